// The inventory and delivery-records panes driven through their controls, found by object name, on
// real stores. Message boxes are answered through the seam, never shown.
#include <unistd.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QTableWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "base/files.h"
#include "delivery/delivery_run.h"
#include "delivery/scheduler.h"
#include "gui/find_control.h"
#include "gui/desktop_app.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/inventory_pane.h"
#include "gui/inventory_windows.h"
#include "gui/item_overview.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/record_list_model.h"
#include "gui/sales_pane.h"
#include "gui/sent_records_pane.h"
#include "gui/settings_pane.h"
#include "store/item_names.h"
#include "store/item_settings.h"
#include "support/shop.h"
#include "support/store_faults.h"
#include "support/temp_dir.h"
#include "web/login_session.h"

using namespace torvane;
using torvane::test::Find;

namespace {

void Click(QWidget* root, const char16_t* button) { QTest::mouseClick(Find<QPushButton>(root, button), Qt::LeftButton); }

QStringList Captions(const QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) out << a->text();
  return out;
}

QWidget* Trigger(QMenu* menu, const char16_t* caption) {
  for (QAction* a : menu->actions()) {
    if (a->text() == QString::fromUtf16(caption)) {
      a->trigger();
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == a->text()) return w;
      }
      return nullptr;
    }
  }
  qFatal("no menu item %s", qPrintable(QString::fromUtf16(caption)));
}

// The texts of the boxes shown since the last call.
QStringList Shown() {
  QStringList out;
  for (const auto& box : MessageBox::TakeShown()) out << box.title + QStringLiteral(": ") + box.text;
  return out;
}

QString Cell(const QAbstractItemModel* model, int row, int column) { return model->index(row, column).data().toString(); }

// The inventory as (item, number, secret, note) lines in store order.
QStringList Cards(CardStores& stores) {
  QStringList out;
  for (const auto& r : stores.Inventory().Select(0, {})) out << FromGbk(r[0] + "|" + r[1] + "|" + r[2] + "|" + r[3]);
  return out;
}

// Ticks the rows through the check boxes of the list.
void Tick(QAbstractItemModel* model, std::initializer_list<int> rows) {
  for (int row : rows) QVERIFY(model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole));
}

// A data directory with open stores and a context for a pane of its own.
struct StoreDir {
  test::TempDir dir;
  std::unique_ptr<CardStores> stores;
  GuiContext context;
  StoreDir() {
    StoreError error;
    stores = CardStores::Open(dir.path(), &error);
    if (!stores) qFatal("stores: %s", error.message.c_str());
    context.dataDir = dir.path();
    context.stores = stores.get();
  }
};

}  // namespace

class StorePanesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { MessageBox::SetAnswerWithoutShowing(true); }
  void init() { MessageBox::TakeShown(); }

  // Every menu command of the inventory pane on a real store: each small window with its checks and
  // messages, duplicates asked about, refused lines named, item filter, card-number query, ticks.
  void inventoryMenusEndToEnd() {
    StoreDir d;
    test::WriteBytes(d.dir / u8"宝贝名称.txt", "A\r\nB\r\n");
    InventoryPane pane(d.context);
    pane.FillInventoryList(1);
    auto* selector = Find<QComboBox>(&pane, u"组合框_宝贝选择");
    auto* count = Find<QLabel>(&pane, u"标签_卡密数量");
    QAbstractItemModel* list = Find<QTableView>(&pane, u"超级列表框_仓库")->model();
    QCOMPARE(selector->count(), 3);
    QCOMPARE(selector->itemText(0), QStringLiteral(u"全部卡密"));
    QCOMPARE(count->text(), QStringLiteral("0"));
    QCOMPARE(Captions(pane.CardMenu()), (QStringList{QStringLiteral(u"添加卡密(单个)"), QStringLiteral(u"添加卡密(批量)"),
                                                     QStringLiteral(u"修改打钩卡密"), QStringLiteral(u"删除打钩卡密"),
                                                     QStringLiteral(u"卡号查询")}));
    QCOMPARE(Captions(pane.ItemMenu()),
             (QStringList{QStringLiteral(u"添加宝贝"), QStringLiteral(u"修改宝贝"), QStringLiteral(u"删除宝贝"),
                          QStringLiteral(u"宝贝设置")}));
    Click(&pane, u"按钮_宝贝操作");
    QTRY_VERIFY(pane.ItemMenu()->isVisible());
    pane.ItemMenu()->close();

    // Add one card: nothing selected and an empty note are refused; a character GBK cannot hold is
    // refused rather than stored as "?"; the same card again is asked about.
    QPointer<QWidget> one = Trigger(pane.CardMenu(), u"添加卡密(单个)");
    QVERIFY(one);
    QCOMPARE(Find<QComboBox>(one, u"组合框_宝贝选择")->currentIndex(), -1);
    Find<QLineEdit>(one, u"编辑框_宝贝卡号")->setText(QStringLiteral("N1"));
    Find<QLineEdit>(one, u"编辑框_宝贝卡密")->setText(QStringLiteral("S1"));
    Click(one, u"按钮_添加");
    Find<QComboBox>(one, u"组合框_宝贝选择")->setCurrentIndex(0);
    Click(one, u"按钮_添加");
    Find<QLineEdit>(one, u"编辑框_宝贝备注")->setText(QStringLiteral(u"备注\U0001F600"));
    Click(one, u"按钮_添加");
    Find<QLineEdit>(one, u"编辑框_宝贝备注")->setText(QStringLiteral("n"));
    Click(one, u"按钮_添加");
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 请将信息填写完整"), QStringLiteral(u"提示: 请将信息填写完整"),
                                   QStringLiteral(u"提示: 宝贝备注含有GBK无法保存的字符"), QStringLiteral(u"提示: 添加成功")}));
    QTRY_VERIFY(one.isNull());
    QCOMPARE(count->text(), QStringLiteral("1"));
    one = Trigger(pane.CardMenu(), u"添加卡密(单个)");
    Find<QComboBox>(one, u"组合框_宝贝选择")->setCurrentIndex(1);
    Find<QLineEdit>(one, u"编辑框_宝贝卡号")->setText(QStringLiteral("N1"));
    Find<QLineEdit>(one, u"编辑框_宝贝卡密")->setText(QStringLiteral("S1"));
    Find<QLineEdit>(one, u"编辑框_宝贝备注")->setText(QStringLiteral("n"));
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    Click(one, u"按钮_添加");
    QCOMPARE(Shown(), QStringList{QStringLiteral(u"请确认: 该卡号卡密库存中已有，仍然添加吗？")});
    QVERIFY(!one.isNull());
    Click(one, u"按钮_关闭");
    QCOMPARE(Cards(*d.stores), QStringList{QStringLiteral("A|N1|S1|n")});

    // Batch: the initial text and label; a line GBK cannot hold and a line with two commas are refused
    // by number, adding nothing; duplicates listed and asked about: cancelled, then left out.
    QPointer<QWidget> batchWindow = Trigger(pane.CardMenu(), u"添加卡密(批量)");
    auto* batch = qobject_cast<BatchAddWindow*>(batchWindow.data());
    QVERIFY(batch);
    auto* cardText = Find<QPlainTextEdit>(batch, u"编辑框_卡号卡密");
    QCOMPARE(cardText->toPlainText(),
             QStringLiteral(u"宝贝卡号1,宝贝卡密1\n宝贝卡号2,宝贝卡密2\n宝贝卡号3,宝贝卡密3"));
    QCOMPARE(Find<QLabel>(batch, u"标签_格式如下")->text(), QStringLiteral(u"格式如下：\r\n\r\n添加不正确\r\n\r\n请注意逗号"));
    Find<QComboBox>(batch, u"组合框_宝贝选择")->setCurrentIndex(1);
    Find<QLineEdit>(batch, u"编辑框_宝贝备注")->setText(QStringLiteral("m"));
    QSignalSpy finished(batch, &BatchAddWindow::importFinished);
    cardText->setPlainText(QStringLiteral(u"a,b\n坏\U0001F600,2"));
    Click(batch, u"按钮_添加");
    cardText->setPlainText(QStringLiteral("a,b\nc\nx,y,z"));
    Click(batch, u"按钮_添加");
    QVERIFY(finished.wait(10000));
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 第2行: 含有GBK无法保存的字符"),
                                   QStringLiteral(u"提示: 第3行: 有多个英文逗号 每行只能写一个卡号和一个卡密")}));
    QCOMPARE(cardText->textCursor().selectedText(), QStringLiteral("x,y,z"));
    cardText->setPlainText(QStringLiteral("a,b\nc\nN1,S1\nc"));
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    Click(batch, u"按钮_添加");
    QVERIFY(finished.wait(10000));
    auto asked = MessageBox::TakeShown();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].title, QStringLiteral(u"请确认"));
    QCOMPARE(asked[0].buttons, MessageBox::kYes | MessageBox::kNo | MessageBox::kCancel);
    QVERIFY2(asked[0].text.startsWith(QStringLiteral(u"发现重复卡密 2 张:\r\n第3行 N1,S1 (库存中已有)\r\n"
                                                     u"第4行 c,空 (与第2行重复)\r\n")),
             qPrintable(asked[0].text));
    QCOMPARE(Cards(*d.stores).size(), 1);
    MessageBox::SetNextAnswer(MessageBox::kYes);
    Click(batch, u"按钮_添加");
    QVERIFY(finished.wait(10000));
    QCOMPARE(Shown().last(), QStringLiteral(u"提示: 添加成功\r\n共添加 2 张 未添加重复卡密 2 张"));
    QTRY_VERIFY(batchWindow.isNull());
    QCOMPARE(Cards(*d.stores), (QStringList{QStringLiteral("A|N1|S1|n"), QStringLiteral("B|a|b|m"),
                                            QStringLiteral(u"B|c|空|m")}));
    QCOMPARE(count->text(), QStringLiteral("3"));

    // The item filter, "全部卡密", the card-number query (window stays open), 全选/反选.
    selector->setCurrentIndex(2);
    QCOMPARE(count->text(), QStringLiteral("2"));
    QCOMPARE(Cell(list, 1, 1), QStringLiteral("c"));
    selector->setCurrentIndex(0);
    QCOMPARE(count->text(), QStringLiteral("3"));
    QPointer<QWidget> query = Trigger(pane.CardMenu(), u"卡号查询");
    Find<QLineEdit>(query, u"编辑框_宝贝卡号")->setText(QStringLiteral("c"));
    Click(query, u"按钮_查询");
    QCOMPARE(count->text(), QStringLiteral("1"));
    QCOMPARE(Cell(list, 0, 2), QStringLiteral(u"空"));
    Click(query, u"按钮_查询1");
    QTRY_VERIFY(query.isNull());
    selector->setCurrentIndex(1);
    selector->setCurrentIndex(0);
    auto* tickAll = Find<QCheckBox>(&pane, u"选择框_全选反选");
    QTest::mouseClick(tickAll, Qt::LeftButton);
    QCOMPARE(pane.Model()->TickedCount(), std::size_t{3});
    QCOMPARE(list->index(2, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QTest::mouseClick(tickAll, Qt::LeftButton);
    QCOMPARE(pane.Model()->TickedCount(), std::size_t{0});

    // Modify the ticked cards: none ticked; cancelled (nothing changes, no success claimed, the window
    // stays); only the note; a ticked card that vanished meanwhile changes nothing else.
    QPointer<QWidget> modify = Trigger(pane.CardMenu(), u"修改打钩卡密");
    Click(modify, u"按钮_修改");
    Tick(list, {1, 2});
    Find<QCheckBox>(modify, u"选择框_宝贝备注")->setChecked(true);
    Find<QLineEdit>(modify, u"编辑框_宝贝备注")->setText(QStringLiteral(u"新备注"));
    Find<QLineEdit>(modify, u"编辑框_宝贝卡号")->setText(QStringLiteral("ignored"));
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    Click(modify, u"按钮_修改");
    QVERIFY(!modify.isNull());
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 未选择记录，不能修改"), QStringLiteral(u"请确认: 真的修改吗？ 总共：2项")}));
    QVERIFY(d.stores->Inventory().DeleteRecords({pane.Model()->NumberAt(2)}) == 1);
    d.stores->Inventory().AppendRecord({"B", "late", "x", "n"});
    Click(modify, u"按钮_修改");
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"请确认: 真的修改吗？ 总共：2项"),
                                   QStringLiteral(u"提示: 修改成功\r\n共修改 1 项 另有 1 项已不存在")}));
    QTRY_VERIFY(modify.isNull());
    QCOMPARE(Cards(*d.stores), (QStringList{QStringLiteral("A|N1|S1|n"), QStringLiteral(u"B|a|b|新备注"),
                                            QStringLiteral("B|late|x|n")}));

    // Delete the ticked cards: none; cancelled; a vanished ticked card takes no other with it.
    Trigger(pane.CardMenu(), u"删除打钩卡密");
    Tick(list, {0, 2});
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    Trigger(pane.CardMenu(), u"删除打钩卡密");
    QCOMPARE(pane.Model()->TickedCount(), std::size_t{0});
    QCOMPARE(Cards(*d.stores).size(), 3);
    Tick(list, {0, 2});
    QVERIFY(d.stores->Inventory().DeleteRecords({pane.Model()->NumberAt(2)}) == 1);
    d.stores->Inventory().AppendRecord({"B", "later", "y", "n"});
    Trigger(pane.CardMenu(), u"删除打钩卡密");
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 未选择记录，不能删除"), QStringLiteral(u"请确认: 真的删除吗？ 总共：2项"),
                                   QStringLiteral(u"请确认: 真的删除吗？ 总共：2项")}));
    QCOMPARE(Cards(*d.stores), (QStringList{QStringLiteral(u"B|a|b|新备注"), QStringLiteral("B|later|y|n")}));
    QCOMPARE(count->text(), QStringLiteral("2"));

    // Item names: add, rename (whole lines only), delete; the pane's selector follows, the cards stay.
    QPointer<QWidget> addItem = Trigger(pane.ItemMenu(), u"添加宝贝");
    Find<QLineEdit>(addItem, u"编辑框_宝贝名称")->setText(QStringLiteral("AB"));
    Click(addItem, u"按钮_添加");
    QTRY_VERIFY(addItem.isNull());
    QCOMPARE(selector->itemText(3), QStringLiteral("AB"));
    QPointer<QWidget> rename = Trigger(pane.ItemMenu(), u"修改宝贝");
    Click(rename, u"按钮_修改");
    Find<QComboBox>(rename, u"组合框_宝贝选择")->setCurrentIndex(0);
    Find<QLineEdit>(rename, u"编辑框_宝贝名称")->setText(QStringLiteral("C"));
    Click(rename, u"按钮_修改");
    QTRY_VERIFY(rename.isNull());
    QPointer<QWidget> removeItem = Trigger(pane.ItemMenu(), u"删除宝贝");
    Click(removeItem, u"按钮_删除");
    Find<QComboBox>(removeItem, u"组合框_宝贝选择")->setCurrentIndex(1);
    Click(removeItem, u"按钮_删除");
    QTRY_VERIFY(removeItem.isNull());
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 添加成功"), QStringLiteral(u"提示: 请讲修改信息填写完整"),
                                   QStringLiteral(u"提示: 修改成功"), QStringLiteral(u"提示: 未选择任何宝贝,请返回重新选择"),
                                   QStringLiteral(u"提示: 删除成功")}));
    QCOMPARE(test::ReadBytes(d.dir / u8"宝贝名称.txt"), std::string("C\r\nAB\r\n"));
    QCOMPARE(selector->count(), 3);
    QCOMPARE(selector->currentIndex(), 0);
    QCOMPARE(count->text(), QStringLiteral("2"));
  }

  // The items' overview: stock, threshold and marks, an item with cards but no listed name included; "宝贝设置" sets a threshold (the item at or below it
  // is marked), makes an item reusable, refuses a bad threshold and a name that cannot be a section; a
  // restock above the threshold lifts the mark.
  void itemSettingsMarkLowAndReusableItems() {
    StoreDir d;
    test::WriteBytes(d.dir / u8"宝贝名称.txt", "A\r\nB\r\nC]\r\n");
    QCOMPARE(d.stores->Inventory().AppendMany({{"A", "1", "s", "n"}, {"A", "2", "s", "n"}, {"A", "3", "s", "n"},
                                               {"B", "4", "s", "n"}, {"Z", "9", "s", "n"}}),
             std::size_t{5});
    InventoryPane pane(d.context);
    auto* overview = Find<QTableWidget>(&pane, u"超级列表框_宝贝库存");
    QTRY_COMPARE(overview->rowCount(), 4);  // the listed names, then an item with cards only
    auto row = [&](int r) {
      QStringList cells;
      for (int c = 0; c < 4; ++c) cells << overview->item(r, c)->text();
      return cells.join(QLatin1Char('|'));
    };
    QCOMPARE(row(0), QStringLiteral("A|3|-|"));
    QCOMPARE(row(1), QStringLiteral("B|1|-|"));

    auto settingsWindow = [&](int item) {
      QPointer<QWidget> w = Trigger(pane.ItemMenu(), u"宝贝设置");
      if (w) Find<QComboBox>(w, u"组合框_宝贝选择")->setCurrentIndex(item);
      return w;
    };
    QPointer<QWidget> w = settingsWindow(0);
    QVERIFY(w);
    Find<QLineEdit>(w, u"编辑框_库存预警")->setText(QStringLiteral(u"三"));
    Click(w, u"按钮_保存");
    Find<QLineEdit>(w, u"编辑框_库存预警")->setText(QStringLiteral("3"));
    Click(w, u"按钮_保存");
    QTRY_VERIFY(w.isNull());
    QTRY_COMPARE(row(0), QStringLiteral(u"A|3|3|库存预警"));
    QCOMPARE(overview->item(0, 3)->foreground().color(), QColor(0xc6, 0x28, 0x28));
    QCOMPARE(ReadItemSetting(d.dir.path(), "A"), (ItemSetting{false, 3}));

    w = settingsWindow(1);
    QVERIFY(!Find<QCheckBox>(w, u"选择框_循环发货")->isChecked());
    Find<QCheckBox>(w, u"选择框_循环发货")->setChecked(true);
    Click(w, u"按钮_保存");
    QTRY_COMPARE(row(1), QStringLiteral(u"B|1|-|循环"));
    w = settingsWindow(2);
    Find<QLineEdit>(w, u"编辑框_库存预警")->setText(QStringLiteral("1"));
    Click(w, u"按钮_保存");
    QVERIFY(!w.isNull());
    Click(w, u"按钮_关闭");
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 库存预警请填写0或正整数（最多9位），留空不提醒"),
                                   QStringLiteral(u"提示: 设置成功"), QStringLiteral(u"提示: 设置成功"),
                                   QStringLiteral(u"提示: 设置失败: 宝贝名称含有 ] , 无法单独设置")}));
    QCOMPARE(ReadItemSetting(d.dir.path(), "B"), (ItemSetting{true, std::nullopt}));
    w = settingsWindow(3);
    Find<QCheckBox>(w, u"选择框_循环发货")->setChecked(true);
    Click(w, u"按钮_保存");
    QTRY_COMPARE(row(3), QStringLiteral(u"Z|1|-|循环"));

    // The window shows what is stored; a restock above the threshold lifts the mark.
    w = settingsWindow(0);
    QCOMPARE(Find<QLineEdit>(w, u"编辑框_库存预警")->text(), QStringLiteral("3"));
    Click(w, u"按钮_关闭");
    QVERIFY(d.stores->Inventory().AppendRecord({"A", "5", "s", "n"}) != 0);
    pane.RefreshStoreView();
    QTRY_COMPARE(row(0), QStringLiteral("A|4|3|"));
  }

  // The records pane: query by order and by buyer (byte-exact), the clicked cell, delete ticked,
  // cancelled delete, and a damaged store shown as such in both panes instead of an empty list.
  // The sales pane over a small store: "正在统计..." until the worker's figures come, then the table's
  // numbers per item, the chart's lines, a refresh after a new delivery, and a store that fails.
  void salesPaneCountsTheStore() {
    using namespace std::chrono;
    StoreDir d;
    const sys_days today{LocalDay(std::time(nullptr))};
    auto sent = [&](const std::string& item, int daysBefore, int order) {
      const std::string at = DayText(year_month_day{today - days{daysBefore}}) + " 12:00:00";
      return std::vector<std::string>{item, std::to_string(order), "b", "1", "c" + std::to_string(order), "s", "n",
                                      "旺旺发送", "T", at, "旺旺"};
    };
    QCOMPARE(d.stores->Sent().AppendMany({sent("甲", 0, 1), sent("甲", 2, 2), sent("甲", 20, 3), sent("乙", 8, 4),
                                          sent("乙", 40, 5)}),
             std::size_t{5});
    QCOMPARE(d.stores->Inventory().AppendMany({{"乙", "k1", "s", "n"}}), std::size_t{1});
    test::WriteBytes(d.dir / u8"宝贝设置.ini", "[乙]\r\n库存预警=3\r\n");
    SalesPane pane(d.context);
    pane.resize(720, 560);
    QSignalSpy shown(&pane, &SalesPane::figuresShown);
    pane.show();
    auto* status = Find<QLabel>(&pane, u"标签_统计状态");
    QCOMPARE(status->text(), QStringLiteral(u"正在统计..."));
    QVERIFY(!Find<QPushButton>(&pane, u"按钮_刷新统计")->isEnabled());
    QVERIFY(shown.wait(10000));
    auto* table = Find<QTableWidget>(&pane, u"表格_销售统计");
    auto rows = [table] {
      QStringList out;
      for (int r = 0; r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c) cells << Cell(table->model(), r, c);
        out << cells.join(QLatin1Char('|'));
      }
      return out;
    };
    QCOMPARE(rows(), (QStringList{QStringLiteral(u"甲|0||1|2|3"), QStringLiteral(u"乙|1|3|0|0|1")}));
    QVERIFY2(status->text().contains(QStringLiteral(u"近30日共发出 4 个卡密")), qPrintable(status->text()));
    auto* chart = Find<QChartView>(&pane, u"图表_销售");
    QCOMPARE(chart->chart()->series().size(), 1);
    auto* total = qobject_cast<QLineSeries*>(chart->chart()->series()[0]);
    QCOMPARE(total->count(), 30);
    QCOMPARE(total->at(29).y(), 1.0);  // today
    QCOMPARE(total->at(27).y(), 1.0);
    auto* selector = Find<QComboBox>(&pane, u"组合框_销售图表");
    selector->setCurrentIndex(1);
    QCOMPARE(chart->chart()->series().size(), 2);
    QCOMPARE(chart->chart()->axes().size(), 2);
    selector->setCurrentIndex(selector->findText(QStringLiteral(u"乙")));
    QCOMPARE(chart->chart()->series().size(), 1);
    QCOMPARE(chart->chart()->series()[0]->name(), QStringLiteral(u"乙"));

    // A delivery since: 刷新 reads again, and the chosen item stays chosen.
    const auto taken = d.stores->TakeCards("乙", 1, "9", "b", "1", "n", "发货中", "T");
    QCOMPARE(taken.size(), std::size_t{1});
    const SentHandOver now{DayText(year_month_day{today}) + " 13:00:00", "旺旺"};
    QVERIFY(d.stores->SetSentStatus({taken[0].recordNumber}, "旺旺发送", "T", &now));
    Click(&pane, u"按钮_刷新统计");
    QVERIFY(shown.wait(10000));
    QCOMPARE(rows(), (QStringList{QStringLiteral(u"甲|0||1|2|3"), QStringLiteral(u"乙|0|3|1|1|2")}));
    QCOMPARE(selector->currentText(), QStringLiteral(u"乙"));

    // A store that cannot be read: the reason, and no figures that could pass for current ones.
    d.stores->Close();
    Click(&pane, u"按钮_刷新统计");
    QVERIFY(shown.wait(10000));
    QVERIFY2(status->text().startsWith(QStringLiteral(u"统计失败: ")), qPrintable(status->text()));
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(chart->chart()->series().size(), 0);
  }

  void recordsPaneAndStoreFailures() {
    StoreDir d;
    std::vector<std::vector<std::string>> cards;
    for (int i = 0; i < 3000; ++i) cards.push_back({"K", "k" + std::to_string(i), "s" + std::to_string(i), "n"});
    QCOMPARE(d.stores->Inventory().AppendMany(cards), cards.size());
    const auto mailed = d.stores->TakeCards("K", 2, "9001", "Buyer", "2", "n", "邮件发送", "T1");
    QCOMPARE(mailed.size(), std::size_t{2});
    const SentHandOver lateInTheDay{"2026-03-04 23:59:59", "邮件"};
    QVERIFY(d.stores->SetSentStatus({mailed[0].recordNumber, mailed[1].recordNumber}, "邮件发送", "T1", &lateInTheDay));
    QCOMPARE(d.stores->TakeCards("K", 1, "9002", "buyer", "1", "n", "发送失败", "T2").size(), std::size_t{1});
    SentRecordsPane pane(d.context);
    pane.resize(720, 420);
    pane.show();
    pane.FillSentList(0);
    auto* view = Find<QTableView>(&pane, u"超级列表框_仓库");
    QAbstractItemModel* list = view->model();
    QCOMPARE(list->rowCount(), 3);
    QCOMPARE(list->columnCount(), 11);
    QCOMPARE(list->headerData(8, Qt::Horizontal).toString(), QStringLiteral(u"发货时间"));
    QCOMPARE(list->headerData(10, Qt::Horizontal).toString(), QStringLiteral(u"交付渠道"));
    QCOMPARE(Cell(list, 1, 9) + Cell(list, 1, 10), QStringLiteral(u"2026-03-04 23:59:59邮件"));

    // By the day of the hand-over: both ends whole days; a failed send was never handed over.
    auto* from = Find<QDateEdit>(&pane, u"编辑框_开始日期");
    auto* to = Find<QDateEdit>(&pane, u"编辑框_结束日期");
    from->setDate(QDate(2026, 3, 4));
    to->setDate(QDate(2026, 3, 4));
    Click(&pane, u"按钮_按日期查询");
    QCOMPARE(list->rowCount(), 2);
    from->setDate(QDate(2026, 3, 5));
    to->setDate(QDate(2026, 3, 9));
    Click(&pane, u"按钮_按日期查询");
    QCOMPARE(list->rowCount(), 0);
    to->setDate(QDate(2026, 3, 1));
    Click(&pane, u"按钮_按日期查询");
    QCOMPARE(Shown(), QStringList{QStringLiteral(u"提示: 开始日期不能晚于结束日期")});
    auto* field = Find<QComboBox>(&pane, u"组合框_查询");
    QCOMPARE(field->currentText(), QStringLiteral(u"订单编号"));
    auto* text = Find<QLineEdit>(&pane, u"编辑框_查询");
    text->setText(QStringLiteral("9001"));
    Click(&pane, u"按钮_查询");
    QCOMPARE(list->rowCount(), 2);
    field->setCurrentIndex(1);
    text->setText(QStringLiteral("buyer"));
    Click(&pane, u"按钮_查询");
    QCOMPARE(list->rowCount(), 1);
    QCOMPARE(Cell(list, 0, 1), QStringLiteral("9002"));
    text->clear();
    Click(&pane, u"按钮_查询");
    QCOMPARE(list->rowCount(), 0);

    // While a long store write holds the stores, Enter in the query box waits like the buttons do.
    pane.FillSentList(0);
    d.context.BeginStoreWork();
    QVERIFY(!text->isEnabled());
    text->setText(QStringLiteral("buyer"));
    QTest::keyClick(text, Qt::Key_Return);
    pane.Query();
    QCOMPARE(list->rowCount(), 3);
    d.context.EndStoreWork();
    QVERIFY(text->isEnabled());
    QTest::keyClick(text, Qt::Key_Return);
    QCOMPARE(list->rowCount(), 1);

    pane.FillSentList(0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(list->index(1, 5)).center());
    QCOMPARE(Find<QLineEdit>(&pane, u"编辑框_信息")->text(), QStringLiteral("s1"));

    Click(&pane, u"按钮_删除");
    Tick(list, {0, 2});
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    Click(&pane, u"按钮_删除");
    QCOMPARE(list->rowCount(), 3);
    Tick(list, {0, 2});
    Click(&pane, u"按钮_删除");
    QCOMPARE(Shown(), (QStringList{QStringLiteral(u"提示: 未选择记录，不能删除"), QStringLiteral(u"请确认: 真的删除吗？ 总共：2项"),
                                   QStringLiteral(u"请确认: 真的删除吗？ 总共：2项")}));
    QCOMPARE(list->rowCount(), 1);
    QCOMPARE(Cell(list, 0, 4), QStringLiteral("k1"));
    QCOMPARE(d.stores->Sent().RecordCount(), 1);

    // A refresh reads again what another process wrote, and keeps the ticks of records still listed.
    Tick(list, {0});
    {
      StoreError error;
      auto other = CardStores::Open(d.dir.path(), &error);
      QVERIFY(other);
      QVERIFY(other->Sent().AppendRecord({"K", "9003", "b", "1", "x", "y", "n", "发货中", "T"}) != 0);
    }
    pane.RefreshStoreView();
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(Cell(list, 1, 1), QStringLiteral("9003"));
    QCOMPARE(pane.Model()->TickedNumbers(), std::vector<RecordNumber>{pane.Model()->NumberAt(0)});
    // A record at "发货中" is the only copy of its codes: the deletion is refused, before any confirmation.
    Tick(list, {1});
    Click(&pane, u"按钮_删除");
    QCOMPARE(Shown(), QStringList{QStringLiteral(
                          u"提示: 打钩的记录中有[1]条发货中的记录 不能删除: 这些卡密已从库存取出但还没有送到买家 删除后将无处可查")});
    QCOMPARE(d.stores->Sent().RecordCount(), 2);

    // Damaged pages: the fill says so, naming the file, and so does a command, as a failure.
    test::WriteBytes(d.dir / u8"宝贝名称.txt", "K\r\n");
    InventoryPane inventory(d.context);
    inventory.FillInventoryList(1);
    QCOMPARE(Find<QLabel>(&inventory, u"标签_卡密数量")->text(), QStringLiteral("2997"));
    test::DamagePage(d.dir / u8"库存卡密.edb", 2, test::PageDamage::kOverwritten);
    inventory.FillInventoryList(1);
    auto* failure = Find<QLabel>(&inventory, u"标签_读取失败");
    QVERIFY(!failure->isHidden());
    QVERIFY2(failure->text().contains(QStringLiteral(u"库存卡密.edb")), qPrintable(failure->text()));
    QCOMPARE(Find<QLabel>(&inventory, u"标签_卡密数量")->text(), QStringLiteral(u"读取失败"));
    QWidget* one = inventory.OpenAddCardWindow();
    Find<QComboBox>(one, u"组合框_宝贝选择")->setCurrentIndex(0);
    for (const char16_t* edit : {u"编辑框_宝贝卡号", u"编辑框_宝贝卡密", u"编辑框_宝贝备注"}) {
      Find<QLineEdit>(one, edit)->setText(QStringLiteral("z"));
    }
    MessageBox::TakeShown();
    Click(one, u"按钮_添加");
    const auto boxes = MessageBox::TakeShown();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].icon, MessageBox::Icon::kCritical);
    QVERIFY2(boxes[0].text.startsWith(QStringLiteral(u"添加失败: 库存卡密.edb: ")), qPrintable(boxes[0].text));
    QVERIFY(one->isVisible());
    test::DamagePage(d.dir / u8"已发卡密.edb", 2, test::PageDamage::kOverwritten);
    pane.RefreshStoreView();
    QVERIFY(!Find<QLabel>(&pane, u"标签_读取失败")->isHidden());
    QVERIFY(Find<QLabel>(&pane, u"标签_读取失败")->text().contains(QStringLiteral(u"已发卡密.edb")));
  }

  // "重新发送" in the window on a real shop: a mail the server refused leaves the order at "发送失败";
  // the same code goes out again by mail, the record takes the channel, the order ships, no card is spent.
  void resendTheTickedFailedOrder() {
    Settings settings;
    settings.deliverByMail = true;
    test::Shop shop(settings);
    QVERIFY2(shop.ok(), shop.error().c_str());
    QVERIFY(shop.LogIn());
    QVERIFY(shop.AddCards("点卡A", {{"A1", "a-secret-1"}, {"A2", "a-secret-2"}, {"A3", "a-secret-3"}, {"A4", "a-secret-4"}}));
    QVERIFY(shop.sim().AddOrder("9701", "点卡A", "1", "buyer1", "one@example.com"));
    QVERIFY(shop.sim().AddOrder("9702", "点卡A", "1", "buyer2", "two@example.com"));
    QVERIFY(shop.sim().AddOrder("9703", "点卡A", "1", "buyer3", "three@example.com"));
    QVERIFY(shop.mail()->SetReplies({"550 5.1.1 No such user", "", ""}));
    WindowOptions options;
    options.configDir = shop.configDir();
    options.dataDir = shop.dataDir();
    DesktopApp app(options);
    QVERIFY(app.Start());
    app.DismissReleaseNotes();
    SentRecordsPane* pane = app.Main()->SentRecords();
    RecordListModel* list = pane->Model();
    QCOMPARE(list->rowCount(), 0);
    app.Scheduler()->ScanTick();
    app.Scheduler()->WaitIdle();
    // The lists refresh after the run, on the UI thread.
    QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 3, 10000);
    QCOMPARE(Cell(list, 0, 7), QStringLiteral(u"发送失败"));
    QCOMPARE(Cell(list, 1, 7), QStringLiteral(u"发送失败"));
    QCOMPARE(app.Main()->Inventory()->Model()->rowCount(), 1);
    QCOMPARE(shop.sim().OrderStatus("9701"), std::string("paid"));

    MessageBox::TakeShown();
    Click(pane, u"按钮_重新发送");
    QCOMPARE(Shown(), QStringList{QStringLiteral(u"提示: 未选择记录，不能重新发送")});
    QVERIFY(shop.mail()->SetReplies({}));

    // The codes go out but the account page and the consign form fail: the window says the order is
    // not shipped, and the token a delivery pass holds is left as it was.
    SetLoginValues("delivery-token", "700100");
    test::SimFaults broken;
    broken.status500 = true;
    broken.paths = {"/member/fresh/account_security.htm", "/user/consign.htm"};
    QVERIFY(shop.sim().SetFaults(broken));
    Tick(list, {1});
    QSignalSpy failedOne(pane, &SentRecordsPane::resendFinished);
    Click(pane, u"按钮_重新发送");
    QVERIFY(failedOne.wait(60000));
    QCOMPARE(failedOne[0][0].toBool(), false);
    const auto boxes = MessageBox::TakeShown();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[1].icon, MessageBox::Icon::kCritical);
    QVERIFY2(boxes[1].text.contains(QStringLiteral(u"订单编号:[9702] 标记发货失败 请手动发货")), qPrintable(boxes[1].text));
    QCOMPARE(FormToken(), std::string("delivery-token"));
    QVERIFY(FromGbk(app.Context().log->Text()).contains(QStringLiteral(u"登录检查失败 请检查网络或重新登录淘宝: 账户页面返回 500")));
    QCOMPARE(shop.sim().OrderStatus("9702"), std::string("paid"));
    QCOMPARE(shop.mail()->Messages().size(), std::size_t{1});
    QVERIFY(shop.sim().ClearFaults());
    QTRY_COMPARE(Cell(list, 1, 7), QStringLiteral(u"邮件发送"));
    list->setData(list->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);

    Tick(list, {0});
    QSignalSpy finished(pane, &SentRecordsPane::resendFinished);
    Click(pane, u"按钮_重新发送");
    QVERIFY(pane->Resending());
    QVERIFY(!Find<QPushButton>(pane, u"按钮_重新发送")->isEnabled());
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished[0][0].toBool(), true);
    const QStringList shown = Shown();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].startsWith(QStringLiteral(u"请确认: 真的重新发送吗？ 总共：1个订单\r\n订单编号:[9701]")), qPrintable(shown[0]));
    QVERIFY2(shown[1].contains(QStringLiteral(u"订单编号:[9701] 已重新发送原卡密 [1]张 通过:[邮件发送]")), qPrintable(shown[1]));
    QVERIFY2(shown[1].contains(QStringLiteral(u"已标记发货")), qPrintable(shown[1]));
    const auto mails = shop.mail()->Messages();
    QCOMPARE(mails.size(), std::size_t{2});
    QCOMPARE(mails[0].recipients, std::vector<std::string>{"two@example.com"});
    QCOMPARE(mails[1].recipients, std::vector<std::string>{"one@example.com"});
    QCOMPARE(shop.sim().OrderStatus("9701"), std::string("shipped"));
    QTRY_COMPARE(Cell(list, 0, 7), QStringLiteral(u"邮件发送"));
    QCOMPARE(Cell(list, 0, 4), QStringLiteral("A1"));
    QCOMPARE(app.Context().stores->Inventory().RecordCount(), 1);
    QVERIFY(FromGbk(app.Context().log->Text()).contains(QStringLiteral(u"已重新发送原卡密")));

    // Nothing at "发送失败" among the ticked: nothing goes out.
    Tick(list, {0});
    Click(pane, u"按钮_重新发送");
    QCOMPARE(Shown(), QStringList{QStringLiteral(u"提示: 打钩的记录中没有发送失败的记录，不能重新发送")});
    QCOMPARE(shop.mail()->Messages().size(), std::size_t{2});

    // The program is ending (the exit's stop request): a resend sends nothing more and says so.
    app.Context().engine->RequestStop();
    list->setData(list->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    Tick(list, {2});
    QSignalSpy stopped(pane, &SentRecordsPane::resendFinished);
    Click(pane, u"按钮_重新发送");
    QVERIFY(stopped.wait(60000));
    QCOMPARE(stopped[0][0].toBool(), false);
    const QStringList last = Shown();
    QCOMPARE(last.size(), 2);
    QVERIFY2(last[1].contains(QStringLiteral(u"收到退出请求 其余订单未重新发送")), qPrintable(last[1]));
    QCOMPARE(shop.mail()->Messages().size(), std::size_t{2});
    QCOMPARE(Cell(list, 2, 7), QStringLiteral(u"发送失败"));
    app.ExitProgram(0);
  }
};

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  StorePanesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "store_panes_test.moc"
