// The "已发卡密" pane: the record of codes sent, its query and deletion.
#pragma once

#include <QWidget>

namespace torvane {

class GuiContext;

class SentRecordsPane : public QWidget {
  Q_OBJECT

 public:
  explicit SentRecordsPane(GuiContext& context, QWidget* parent = nullptr);

 private:
  GuiContext& context_;
};

}  // namespace torvane
