// The "实时动态" pane: the activity log as a list of its lines, newest on top. The history is indexed,
// not laid out as one text document, so a history of hundreds of megabytes opens at once; each line is
// converted for display only when it comes into view.
#pragma once

#include <QAbstractListModel>
#include <QWidget>
#include <string>
#include <vector>

#include "base/activity_log.h"

class QListView;

namespace torvane {

class GuiContext;

// The lines of an activity log text (newest first) plus the lines added since, as one list.
class ActivityModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit ActivityModel(QObject* parent = nullptr);

  // Replaces the model's text by a whole log text (newest line first, CR LF line ends).
  void Reset(std::string text);
  // Puts one logged line (its CR LF included; it may hold further line breaks) on top.
  void Prepend(const std::string& line);
  // The line at row as GBK, without its line break.
  std::string LineAt(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::string history_;               // the text as loaded
  std::vector<std::size_t> starts_;   // where each of its lines starts
  std::vector<std::string> added_;    // lines added since, oldest first
};

class ActivityPane : public QWidget, public ActivitySink {
  Q_OBJECT

 public:
  // Shows the log's text as it stands and receives every later line through the sink.
  explicit ActivityPane(GuiContext& context, QWidget* parent = nullptr);
  ~ActivityPane() override;

  // Any thread: the line is handed to the UI thread, which puts it on top.
  void OnActivityLine(const std::string& line) override;

  ActivityModel* Model() const { return model_; }

 private:
  GuiContext& context_;
  ActivityModel* model_ = nullptr;
  QListView* view_ = nullptr;
};

}  // namespace torvane
