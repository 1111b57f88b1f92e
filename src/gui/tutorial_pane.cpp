#include "gui/tutorial_pane.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/open_address.h"

namespace torvane {

TutorialPane::TutorialPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("TutorialPane"));
  const Deployment& d = context_.deployment;
  const struct {
    const char16_t* name;
    const char16_t* caption;
    const std::string& address;
  } links[] = {
      {u"超级链接框_简单发货", u"简单语音视频教程", d.helpSimpleDelivery},
      {u"超级链接框_手机修改", u"旺旺发货方式必须进行的设置", d.helpChatSetup},
      {u"超级链接框_邮箱设置", u"邮箱通知设置视频教程", d.helpMailSetup},
      {u"超级链接框_添加卡密", u"如何添加卡密(单个添加,批量添加)", d.helpAddCards},
      {u"超级链接框_修改卡密", u"如何修改卡密(单个修改 批量修改)", d.helpEditCards},
      {u"超级链接框_删除卡密", u"如何删除卡密", d.helpDeleteCards},
  };
  auto* group = new QGroupBox(QStringLiteral(u"使用教程"), this);
  group->setObjectName(QStringLiteral(u"分组框_教程"));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->setSpacing(14);
  for (const auto& link : links) {
    auto* label = new QLabel(group);
    label->setObjectName(QString::fromUtf16(link.name));
    const QString address = FromGbk(link.address);
    label->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                       .arg(address.toHtmlEscaped(), QString::fromUtf16(link.caption).toHtmlEscaped()));
    label->setToolTip(address);
    connect(label, &QLabel::linkActivated, this, [address] { OpenAddress(address); });
    groupLayout->addWidget(label);
  }
  auto* more = new QPushButton(QStringLiteral(u"查看更多教程请点我"), group);
  more->setObjectName(QStringLiteral(u"按钮_教程"));
  connect(more, &QPushButton::clicked, this, [this] { OpenAddress(FromGbk(context_.deployment.helpCentre)); });
  groupLayout->addSpacing(10);
  groupLayout->addWidget(more, 0, Qt::AlignLeft);
  groupLayout->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
}

}  // namespace torvane
