// The start-up check for a newer release: reads the maker's notice page and, when the published version
// differs from this program's, has the release-notes window ask whether to update.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/version.h"
#include "base/deployment.h"

namespace torvane {

// What the check needs of the release-notes window. ShowNewVersion is called on the checking thread;
// the window hands the change to its own thread (and ignores it once the window is closed).
class UpdateUi {
 public:
  virtual ~UpdateUi() = default;
  // Switch to the question "发现新版本 是否进行更新" with Yes and No.
  virtual void ShowNewVersion() = 0;
};

// Outcome of one check.
enum class UpdateCheckOutcome {
  NoNotice,    // page not fetched, a marker missing or fewer than two fields: nothing changed
  SameVersion, // published version equals this program's
  NewVersion,  // a different version is published; ShowNewVersion was called
};

// The notice page address followed by three random numbers from 11 to 99 (six digits).
std::string UpdateNoticeAddress(const Deployment& deployment);

// Fields 1 and 2 of the notice: the text between "==分类头==" and "==分类尾==", split at "|".
struct UpdateNotice {
  std::string version;
  std::string downloadAddress;
};

// The notice of a page; nullopt when a marker is missing or the notice holds fewer than two fields.
std::optional<UpdateNotice> ParseUpdateNotice(std::string_view page);

// Fetches the notice, keeps PublishedVersion and DownloadAddress, and calls ui.ShowNewVersion() when the
// published version differs from kProgramVersion byte for byte.
UpdateCheckOutcome CheckForUpdate(const Deployment& deployment, UpdateUi& ui);

// Field 1 and field 2 of the last notice read; empty before one was read. Safe on any thread.
std::string PublishedVersion();
std::string DownloadAddress();

// DownloadAddress when it is a plain secure web address ("https://" with a host, no user-info, no blanks,
// control bytes or characters that do not belong in an address); "" otherwise. Only this may be handed to
// the system's opener, so a notice can never make the program open a local file, start a program, or
// fetch the download over plain http where anyone on the path could replace it.
std::string SafeDownloadAddress();

// True when the text is such a plain secure web address.
bool IsSafeWebAddress(const std::string& address);

}  // namespace torvane
