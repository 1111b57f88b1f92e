// The demo's configuration works against its own local services.
#include <gtest/gtest.h>

#include "app/demo.h"
#include "base/deployment.h"
#include "base/files.h"
#include "notify/mail.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

using namespace torvane;
using namespace torvane::test;

// The demo's mail server speaks no TLS: its deliveries must still go out (they once waited forever for
// an encryption the local server never offers).
TEST(DemoConfiguration, MailGoesOutThroughTheLocalMailServer) {
  SmtpServerOptions options;
  options.user = kDemoMailUser;
  options.password = kDemoMailPassword;
  SmtpTestServer server(options);
  ASSERT_TRUE(server.running()) << server.error();
  TempDir dir;
  std::string error;
  DemoChat noChat;
  noChat.problem = "no chat client";
  ASSERT_TRUE(WriteDemoConfig(dir.path(), "http://127.0.0.1:9", server.port(), noChat, &error)) << error;

  Deployment deployment = LoadDeployment(DeploymentPath(dir.path()), &error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_TRUE(CheckDeploymentAddresses(deployment, &error)) << error;
  SmtpMailSender mail(deployment.mail, 5, 20);
  MailResult result = mail.SendMail("buyer@example.com", "codes", "A1 a-secret-1");
  EXPECT_TRUE(result.accepted) << result.reason;
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(server.Messages()[0].recipients, std::vector<std::string>{"buyer@example.com"});
  // The local server's log holds the codes it received: readable by the owner only.
  EXPECT_EQ(FilePermissions(server.logFile()), 0600u);
}
