#include "gui/inventory_windows.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/inventory_pane.h"
#include "gui/message_box.h"
#include "gui/record_list_model.h"
#include "gui/store_controls.h"
#include "gui/ui_queue.h"
#include "store/item_name_commands.h"
#include "store/item_names.h"

namespace torvane {

namespace {

QLabel* Caption(const char16_t* text, QWidget* parent) { return new QLabel(QString::fromUtf16(text), parent); }

QPushButton* Button(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QPushButton(QString::fromUtf16(caption), parent), name);
}

QLineEdit* Edit(const char16_t* name, QWidget* parent) { return Named(new QLineEdit(parent), name); }

// The item selector of a small window: the names of 宝贝名称.txt as they are now, nothing selected.
QComboBox* ItemSelector(GuiContext& context, QWidget* parent) {
  auto* selector = Named(new QComboBox(parent), u"组合框_宝贝选择");
  selector->setMinimumWidth(200);
  FillNameSelector(selector, ReadItemNames(context.dataDir));
  return selector;
}

// A row of buttons on the right.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

// The layout of a window with one captioned field: the field's row, the hint under it (when given),
// the buttons on the right. The close button closes the window.
void OneFieldLayout(QWidget* window, const char16_t* caption, QWidget* field, const char16_t* hint,
                    QPushButton* action, QPushButton* close, QSize size) {
  auto* row = new QHBoxLayout;
  row->addWidget(Caption(caption, window));
  row->addWidget(field, 1);
  auto* layout = new QVBoxLayout(window);
  layout->addLayout(row);
  if (hint) layout->addWidget(new QLabel(QString::fromUtf16(hint), window));
  layout->addLayout(ButtonRow({action, close}));
  window->resize(size);
  QObject::connect(close, &QPushButton::clicked, window, &QWidget::close);
}

const char* PlaceOf(CardDuplicate::Where where) {
  switch (where) {
    case CardDuplicate::Where::kInventory: return "库存中已有";
    case CardDuplicate::Where::kSent: return "已发卡密中已有";
    case CardDuplicate::Where::kEarlier: break;
  }
  return "与前面的行重复";
}

// The question about a batch's duplicates: the first 20 of them, and how many more.
QString DuplicateQuestion(const std::vector<DuplicateCard>& duplicates) {
  constexpr std::size_t kListed = 20;
  std::string text = "发现重复卡密 " + std::to_string(duplicates.size()) + " 张:\r\n";
  for (std::size_t i = 0; i < duplicates.size() && i < kListed; ++i) {
    const DuplicateCard& d = duplicates[i];
    text += "第" + std::to_string(d.line) + "行 " + d.number + "," + d.secret + " (";
    text += d.where == CardDuplicate::Where::kEarlier ? "与第" + std::to_string(d.earlierLine) + "行重复"
                                                      : std::string(PlaceOf(d.where));
    text += ")\r\n";
  }
  if (duplicates.size() > kListed) text += "……另有 " + std::to_string(duplicates.size() - kListed) + " 张未列出\r\n";
  text += "\r\n是：不添加重复卡密，其余照常添加\r\n否：重复卡密也一并添加\r\n取消：不添加任何卡密";
  return FromGbk(text);
}

}  // namespace

InventoryWindow::InventoryWindow(GuiContext& context, InventoryPane& pane, const QString& title)
    : QWidget(&pane, Qt::Window), context_(context), pane_(pane) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  // While a batch import holds the stores, a command here would wait for it with the window frozen.
  connect(&context_, &GuiContext::storeWorkChanged, this, [this](bool running) {
    if (!qobject_cast<BatchAddWindow*>(this)) setEnabled(!running);
  });
  setEnabled(!context_.StoreWorkRunning());
}

// ---- 添加卡密(单个) ----

AddCardWindow::AddCardWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"添加卡密(单个)")) {
  setObjectName(QStringLiteral(u"窗口_添加卡密"));
  item_ = ItemSelector(context, this);
  number_ = Edit(u"编辑框_宝贝卡号", this);
  secret_ = Edit(u"编辑框_宝贝卡密", this);
  note_ = Edit(u"编辑框_宝贝备注", this);
  auto* add = Button(u"按钮_添加", u"添加", this);
  auto* close = Button(u"按钮_关闭", u"关闭", this);
  auto* grid = new QGridLayout;
  grid->addWidget(Caption(u"宝贝名称：", this), 0, 0);
  grid->addWidget(item_, 0, 1);
  grid->addWidget(Caption(u"宝贝卡号：", this), 1, 0);
  grid->addWidget(number_, 1, 1);
  grid->addWidget(Caption(u"宝贝卡密：", this), 2, 0);
  grid->addWidget(secret_, 2, 1);
  grid->addWidget(Caption(u"宝贝备注：", this), 3, 0);
  grid->addWidget(note_, 3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow({add, close}));
  resize(360, 200);
  connect(add, &QPushButton::clicked, this, &AddCardWindow::Add);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

void AddCardWindow::Add() {
  const std::string item = SelectedName(item_);
  const auto number = ExactText(this, number_->text(), "宝贝卡号");
  if (!number) return;
  const auto secret = ExactText(this, secret_->text(), "宝贝卡密");
  if (!secret) return;
  const auto note = ExactText(this, note_->text(), "宝贝备注");
  if (!note) return;
  CommandOutcome outcome = AddOneCard(*context_.stores, item, *number, *secret, *note, DuplicatePolicy::kRefuse);
  if (!outcome.failed && outcome.count == 0 && !outcome.duplicates.empty()) {
    const std::string where = PlaceOf(outcome.duplicates.front().where);
    if (!MessageBox::Confirm(this, FromGbk("该卡号卡密" + where + "，仍然添加吗？"))) return;
    outcome = AddOneCard(*context_.stores, item, *number, *secret, *note, DuplicatePolicy::kAdd);
  }
  ShowOutcome(this, outcome);
  if (outcome.failed || outcome.count == 0) return;
  pane_.FillInventoryList(1);
  close();
}

// ---- 添加卡密(批量) ----

BatchAddWindow::BatchAddWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"添加卡密(批量)")) {
  setObjectName(QStringLiteral(u"窗口_批量添加卡密"));
  item_ = ItemSelector(context, this);
  cards_ = Named(new QPlainTextEdit(this), u"编辑框_卡号卡密");
  cards_->setPlainText(QStringLiteral(u"宝贝卡号1,宝贝卡密1\n宝贝卡号2,宝贝卡密2\n宝贝卡号3,宝贝卡密3"));
  cards_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* format = Named(new QLabel(QStringLiteral(u"格式如下：\r\n\r\n添加不正确\r\n\r\n请注意逗号"), this),
                       u"标签_格式如下");
  format->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  note_ = Edit(u"编辑框_宝贝备注", this);
  add_ = Button(u"按钮_添加", u"添加", this);
  close_ = Button(u"按钮_关闭", u"关闭", this);
  progress_ = Named(new QProgressBar(this), u"进度条_添加卡密");
  progress_->setVisible(false);
  progress_->setFormat(QStringLiteral(u"已添加 %v / %m"));

  auto* grid = new QGridLayout;
  grid->addWidget(Caption(u"宝贝名称：", this), 0, 0);
  grid->addWidget(item_, 0, 1, 1, 2);
  grid->addWidget(Caption(u"卡号卡密：", this), 1, 0, Qt::AlignTop);
  grid->addWidget(cards_, 1, 1);
  grid->addWidget(format, 1, 2);
  grid->addWidget(Caption(u"宝贝备注：", this), 2, 0);
  grid->addWidget(note_, 2, 1, 1, 2);
  grid->setRowStretch(1, 1);
  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid, 1);
  layout->addWidget(progress_);
  layout->addLayout(ButtonRow({add_, close_}));
  resize(460, 360);
  connect(add_, &QPushButton::clicked, this, &BatchAddWindow::Add);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
}

void BatchAddWindow::Add() {
  if (busy_) return;
  auto input = std::make_shared<Input>();
  input->item = SelectedName(item_);
  const QString text = cards_->toPlainText();
  if (std::optional<std::string> cards = ToGbkExact(text)) {
    input->cardText = std::move(*cards);
  } else {
    // Name the first line GBK cannot hold, as the command names the lines it refuses.
    const QStringList lines = text.split(QLatin1Char('\n'));
    std::size_t line = 1;
    while (line <= static_cast<std::size_t>(lines.size()) && ToGbkExact(lines[static_cast<qsizetype>(line - 1)])) ++line;
    MessageBox::Inform(this, FromGbk("第" + std::to_string(line) + "行: 含有GBK无法保存的字符"));
    SelectLine(line);
    return;
  }
  const auto note = ExactText(this, note_->text(), "宝贝备注");
  if (!note) return;
  input->note = *note;
  Start(std::move(input), DuplicatePolicy::kRefuse);
}

void BatchAddWindow::Start(std::shared_ptr<const Input> input, DuplicatePolicy policy) {
  CardStores* stores = context_.stores;
  GuiContext* context = &context_;
  SetBusy(true);
  context_.BeginStoreWork();
  // Answers go through the context, which outlives every worker; the window may be gone by then.
  QPointer<BatchAddWindow> self(this);
  const bool started = context_.RunOnWorker([stores, context, input, policy, self] {
    auto progress = [context, self](std::size_t done, std::size_t total) {
      PostToUi(context, [self, done, total] {
        if (self) self->ShowProgress(done, total);
      });
    };
    CommandOutcome outcome = AddCardsBatch(*stores, input->item, input->cardText, input->note, progress, policy);
    PostToUi(context, [context, self, input, policy, outcome] {
      context->EndStoreWork();
      if (self) self->Finished(input, policy, outcome);
    });
  });
  if (!started) {
    context_.EndStoreWork();
    SetBusy(false);
    MessageBox::Fail(this, QStringLiteral(u"添加失败: 无法启动工作线程"));
  }
}

void BatchAddWindow::ShowProgress(std::size_t done, std::size_t total) {
  if (!busy_) return;
  progress_->setVisible(true);
  progress_->setRange(0, static_cast<int>(std::min<std::size_t>(total, INT32_MAX)));
  progress_->setValue(static_cast<int>(std::min<std::size_t>(done, INT32_MAX)));
}

void BatchAddWindow::Finished(std::shared_ptr<const Input> input, DuplicatePolicy policy,
                              const CommandOutcome& outcome) {
  SetBusy(false);
  const bool refusedForDuplicates =
      policy == DuplicatePolicy::kRefuse && !outcome.failed && outcome.count == 0 && !outcome.duplicates.empty();
  if (refusedForDuplicates) {
    const int answer = MessageBox::Show(this, QStringLiteral(u"请确认"), DuplicateQuestion(outcome.duplicates),
                                        MessageBox::Icon::kQuestion,
                                        MessageBox::kYes | MessageBox::kNo | MessageBox::kCancel);
    if (answer == MessageBox::kYes) {
      Start(input, DuplicatePolicy::kLeaveOut);
    } else if (answer == MessageBox::kNo) {
      Start(input, DuplicatePolicy::kAdd);
    } else {
      emit importFinished();
    }
    return;
  }
  const bool added = !outcome.failed && outcome.message == "添加成功";
  if (added && policy == DuplicatePolicy::kLeaveOut) {
    const std::string left = std::to_string(outcome.duplicates.size());
    MessageBox::Inform(this, FromGbk(outcome.count > 0 ? "添加成功\r\n共添加 " + std::to_string(outcome.count) +
                                                             " 张 未添加重复卡密 " + left + " 张"
                                                       : "未添加任何卡密: 全部 " + left + " 张都是重复卡密"));
  } else {
    ShowOutcome(this, outcome);
  }
  if (outcome.line > 0) SelectLine(outcome.line);
  if (added) {
    pane_.FillInventoryList(1);
    emit importFinished();
    close();
    return;
  }
  emit importFinished();
}

void BatchAddWindow::SetBusy(bool busy) {
  busy_ = busy;
  add_->setEnabled(!busy);
  close_->setEnabled(!busy);
  item_->setEnabled(!busy);
  cards_->setReadOnly(busy);
  note_->setReadOnly(busy);
  if (busy) {
    progress_->setRange(0, 0);  // the duplicate search comes first, without figures
    // Shown only for an import that takes a while, so a small one does not flicker.
    QTimer::singleShot(300, progress_, [this] {
      if (busy_) progress_->setVisible(true);
    });
  } else {
    progress_->setVisible(false);
  }
}

void BatchAddWindow::SelectLine(std::size_t line) {
  QTextBlock block = cards_->document()->findBlockByNumber(static_cast<int>(line) - 1);
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cards_->setTextCursor(cursor);
  cards_->setFocus();
}

void BatchAddWindow::closeEvent(QCloseEvent* event) {
  // The import holds this window's answers: it stays until the import has ended.
  if (busy_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

// ---- 卡号查询 ----

CardNumberWindow::CardNumberWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"卡号查询")) {
  setObjectName(QStringLiteral(u"窗口_卡号查询"));
  number_ = Edit(u"编辑框_宝贝卡号", this);
  auto* query = Button(u"按钮_查询", u"查询", this);
  auto* close = Button(u"按钮_查询1", u"关闭", this);
  OneFieldLayout(this, u"宝贝卡号：", number_, nullptr, query, close, QSize(340, 100));
  connect(query, &QPushButton::clicked, this, &CardNumberWindow::Query);
}

void CardNumberWindow::Query() {
  if (const auto number = ExactText(this, number_->text(), "宝贝卡号")) pane_.FillInventoryList(2, *number);
}

// ---- 修改打钩卡密 ----

ModifyCardsWindow::ModifyCardsWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"修改打钩卡密")) {
  setObjectName(QStringLiteral(u"窗口_修改卡密"));
  item_ = ItemSelector(context, this);
  number_ = Edit(u"编辑框_宝贝卡号", this);
  secret_ = Edit(u"编辑框_宝贝卡密", this);
  note_ = Edit(u"编辑框_宝贝备注", this);
  useItem_ = Named(new QCheckBox(QStringLiteral(u"宝贝名称："), this), u"选择框_宝贝名称");
  useNumber_ = Named(new QCheckBox(QStringLiteral(u"宝贝卡号："), this), u"选择框_宝贝卡号");
  useSecret_ = Named(new QCheckBox(QStringLiteral(u"宝贝卡密："), this), u"选择框_宝贝卡密");
  useNote_ = Named(new QCheckBox(QStringLiteral(u"宝贝备注："), this), u"选择框_宝贝备注");
  auto* modify = Button(u"按钮_修改", u"修改", this);
  auto* close = Button(u"按钮_关闭", u"关闭", this);
  auto* grid = new QGridLayout;
  grid->addWidget(useItem_, 0, 0);
  grid->addWidget(item_, 0, 1);
  grid->addWidget(useNumber_, 1, 0);
  grid->addWidget(number_, 1, 1);
  grid->addWidget(useSecret_, 2, 0);
  grid->addWidget(secret_, 2, 1);
  grid->addWidget(useNote_, 3, 0);
  grid->addWidget(note_, 3, 1);
  auto* hint = new QLabel(QStringLiteral(u"只修改打钩的项目，打钩卡密的其余项目不变"), this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(hint);
  layout->addLayout(ButtonRow({modify, close}));
  resize(380, 220);
  connect(modify, &QPushButton::clicked, this, &ModifyCardsWindow::Modify);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

void ModifyCardsWindow::Modify() {
  const std::vector<RecordNumber> rows = pane_.Model()->TickedNumbers();
  if (rows.empty()) {
    ShowOutcome(this, ModifyCards(*context_.stores, rows, {}, false));
    return;
  }
  ModifyFields fields;
  if (useItem_->isChecked()) fields.item = SelectedName(item_);
  const std::pair<QCheckBox*, std::pair<QLineEdit*, std::optional<std::string>*>> edits[] = {
      {useNumber_, {number_, &fields.number}}, {useSecret_, {secret_, &fields.secret}}, {useNote_, {note_, &fields.note}}};
  const char* captions[] = {"宝贝卡号", "宝贝卡密", "宝贝备注"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (!edits[i].first->isChecked()) continue;
    auto text = ExactText(this, edits[i].second.first->text(), captions[i]);
    if (!text) return;
    *edits[i].second.second = std::move(*text);
  }
  // Cancelled, nothing changes and nothing claims it did; the window stays for another try.
  if (!MessageBox::Confirm(this, FromGbk(ModifyConfirmText(rows.size())))) return;
  CommandOutcome outcome = ModifyCards(*context_.stores, rows, fields, true);
  if (!outcome.failed && outcome.message == "修改成功" && outcome.count < rows.size()) {
    outcome.message += "\r\n共修改 " + std::to_string(outcome.count) + " 项 另有 " +
                       std::to_string(rows.size() - outcome.count) + " 项已不存在";
  }
  ShowOutcome(this, outcome);
  const bool changed = !outcome.failed && outcome.message.rfind("修改成功", 0) == 0;
  if (outcome.failed || changed) pane_.FillInventoryList(1);
  if (changed) close();
}

// ---- 添加宝贝 ----

AddItemWindow::AddItemWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"添加宝贝")) {
  setObjectName(QStringLiteral(u"窗口_添加宝贝"));
  name_ = Edit(u"编辑框_宝贝名称", this);
  auto* add = Button(u"按钮_添加", u"添加", this);
  auto* close = Button(u"按钮_添加1", u"关闭", this);
  OneFieldLayout(this, u"宝贝名称：", name_, u"宝贝名称须与淘宝上的宝贝标题完全一致", add, close, QSize(380, 120));
  connect(add, &QPushButton::clicked, this, &AddItemWindow::Add);
}

namespace {

// An item-name command's message; on success the pane's selector is refilled and the window closes.
void FinishItemCommand(QWidget* window, InventoryPane& pane, const std::string& message, const std::string& error) {
  if (IsItemNameCommandSuccess(message)) {
    MessageBox::Inform(window, FromGbk(message));
    pane.FillItemSelector();
    window->close();
    return;
  }
  const bool failed = message == "添加失败" || message == "修改失败" || message == "删除失败";
  if (failed) {
    MessageBox::Fail(window, FromGbk(error.empty() ? message : message + "\r\n" + error));
  } else {
    MessageBox::Inform(window, FromGbk(message));
  }
}

}  // namespace

void AddItemWindow::Add() {
  const auto name = ExactText(this, name_->text(), "宝贝名称");
  if (!name) return;
  std::string error;
  const std::string message = AddItemName(context_.dataDir, *name, &error);
  FinishItemCommand(this, pane_, message, error);
}

// ---- 修改宝贝 ----

RenameItemWindow::RenameItemWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"修改宝贝")) {
  setObjectName(QStringLiteral(u"窗口_修改宝贝"));
  item_ = ItemSelector(context, this);
  name_ = Edit(u"编辑框_宝贝名称", this);
  auto* rename = Button(u"按钮_修改", u"修改", this);
  auto* close = Button(u"按钮_关闭", u"关闭", this);
  auto* grid = new QGridLayout;
  grid->addWidget(Caption(u"原来的名称：", this), 0, 0);
  grid->addWidget(item_, 0, 1);
  grid->addWidget(Named(Caption(u"新的名称：", this), u"标签_新的名称"), 1, 0);
  grid->addWidget(name_, 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow({rename, close}));
  resize(380, 130);
  connect(rename, &QPushButton::clicked, this, &RenameItemWindow::Rename);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

void RenameItemWindow::Rename() {
  const auto name = ExactText(this, name_->text(), "宝贝名称");
  if (!name) return;
  std::string error;
  const std::string message = RenameItemName(context_.dataDir, SelectedName(item_), *name, &error);
  if (message == "修改失败") FillNameSelector(item_, ReadItemNames(context_.dataDir));
  FinishItemCommand(this, pane_, message, error);
}

// ---- 删除宝贝 ----

DeleteItemWindow::DeleteItemWindow(GuiContext& context, InventoryPane& pane)
    : InventoryWindow(context, pane, QStringLiteral(u"删除宝贝")) {
  setObjectName(QStringLiteral(u"窗口_删除宝贝"));
  item_ = ItemSelector(context, this);
  auto* remove = Button(u"按钮_删除", u"删除", this);
  auto* close = Button(u"按钮_删除1", u"关闭", this);
  OneFieldLayout(this, u"宝贝名称：", item_, u"该宝贝的卡密仍留在库存中，可在“全部卡密”中查看", remove, close,
                 QSize(380, 120));
  connect(remove, &QPushButton::clicked, this, &DeleteItemWindow::Delete);
}

void DeleteItemWindow::Delete() {
  std::string error;
  const std::string message = DeleteItemName(context_.dataDir, SelectedName(item_), &error);
  if (message == "删除失败") FillNameSelector(item_, ReadItemNames(context_.dataDir));
  FinishItemCommand(this, pane_, message, error);
}

}  // namespace torvane
