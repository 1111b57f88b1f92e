// The marketplace login session: the seller logs in once in the login window; the check here reads the
// form token and the seller's numeric user id that later marketplace requests need.
#pragma once

#include <string>

#include "base/deployment.h"

namespace torvane {

// What one read of the account-security page gave.
struct LoginRead {
  std::string formToken;     // the page's `_tb_token_` value; empty when the check failed
  std::string sellerUserId;  // the value after "&userid="
  std::string failure;       // why no token was read (GBK), empty when one was
};

// Reads the account-security page of the member host with the stored cookies, and nothing else: the
// process-wide values stay as they are (a resend's own check uses this).
LoginRead ReadLoginSession(const Deployment& deployment);

// ReadLoginSession, then: with a token read, FormToken and SellerUserId are replaced by the page's values;
// true when both are non-empty. A failed check (no page, or no token in it) replaces nothing, so a pass
// under way keeps a good token; failure (when given) receives why.
bool CheckLoginSession(const Deployment& deployment, std::string* failure = nullptr);

// The last form token read (empty before the first check or after an expired login). Safe on any thread:
// a reader sees a whole value, the old one or the new one.
std::string FormToken();

// The seller's numeric user id from the last successful check; empty before it.
std::string SellerUserId();

// Replaces both values (used by the login window once it has read them, and by tests).
void SetLoginValues(const std::string& formToken, const std::string& sellerUserId);

// Address of the login page shown in the login window: the login host's "/member/login.jhtml" with the keys
// is_ignore, from, style, minititle (percent-encoded GBK title) and redirect_url (the personal page, unencoded).
std::string LoginPageAddress(const Deployment& deployment);

}  // namespace torvane
