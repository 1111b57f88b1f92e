#include "gui/activity_pane.h"

#include <QApplication>
#include <QClipboard>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QShortcut>
#include <QVBoxLayout>
#include <cstring>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/ui_queue.h"

namespace torvane {

namespace {

// Calls f(start, length) for every line of text (CR LF or LF ends; the final line may lack one).
template <typename F>
void ForEachLine(std::string_view text, F&& f) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const void* hit = std::memchr(text.data() + pos, '\n', text.size() - pos);
    std::size_t end = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
    std::size_t length = end - pos;
    if (length > 0 && text[pos + length - 1] == '\r') --length;
    f(pos, length);
    pos = end + 1;
  }
}

}  // namespace

ActivityModel::ActivityModel(QObject* parent) : QAbstractListModel(parent) {}

void ActivityModel::Reset(std::string text) {
  beginResetModel();
  history_ = std::move(text);
  starts_.clear();
  added_.clear();
  starts_.reserve(history_.size() / 48 + 1);
  ForEachLine(history_, [this](std::size_t start, std::size_t) { starts_.push_back(start); });
  endResetModel();
}

void ActivityModel::Prepend(const std::string& line) {
  std::vector<std::string> pieces;
  ForEachLine(line, [&](std::size_t start, std::size_t length) { pieces.push_back(line.substr(start, length)); });
  if (pieces.empty()) return;
  beginInsertRows(QModelIndex(), 0, static_cast<int>(pieces.size()) - 1);
  // added_ is oldest first; the message's own lines read top to bottom as written.
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) added_.push_back(std::move(*it));
  endInsertRows();
}

std::string ActivityModel::LineAt(int row) const {
  if (row < 0) return {};
  const std::size_t r = static_cast<std::size_t>(row);
  if (r < added_.size()) return added_[added_.size() - 1 - r];
  const std::size_t h = r - added_.size();
  if (h >= starts_.size()) return {};
  std::size_t start = starts_[h];
  std::size_t end = h + 1 < starts_.size() ? starts_[h + 1] : history_.size();
  while (end > start && (history_[end - 1] == '\n' || history_[end - 1] == '\r')) --end;
  return history_.substr(start, end - start);
}

int ActivityModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(added_.size() + starts_.size());
}

QVariant ActivityModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return FromGbk(LineAt(index.row()));
}

ActivityPane::ActivityPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("ActivityPane"));
  auto* caption = new QLabel(QStringLiteral(u"监测实时动态："), this);
  caption->setObjectName(QStringLiteral(u"标签_实时动态"));
  model_ = new ActivityModel(this);
  view_ = new QListView(this);
  view_->setObjectName(QStringLiteral(u"编辑框_实时动态"));
  view_->setModel(model_);
  view_->setUniformItemSizes(true);  // rows are never measured one by one
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setAlternatingRowColors(true);
  auto* copy = new QShortcut(QKeySequence::Copy, view_);
  connect(copy, &QShortcut::activated, this, [this] {
    QStringList lines;
    QModelIndexList rows = view_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex& row : rows) lines << row.data().toString();
    QApplication::clipboard()->setText(lines.join(QStringLiteral("\r\n")));
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(view_, 1);

  if (context_.log) {
    model_->Reset(context_.log->Text());
    context_.log->SetSink(this);
  }
}

ActivityPane::~ActivityPane() {
  if (context_.log) context_.log->SetSink(nullptr);
}

void ActivityPane::OnActivityLine(const std::string& line) {
  PostToUi(model_, [model = model_, line] { model->Prepend(line); });
}

}  // namespace torvane
