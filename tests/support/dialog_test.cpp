#include "tests/support/dialog_test.h"

#include "framework/qt/dlu_mapper.h"
#include "framework/qt/qt_framework.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

namespace pw::test {

static QWidget* Widget(CDialog& dlg, int id) {
    QWidget* w = qt::ControlWidget(dlg, id);
    if (!w) ADD_FAILURE() << "no control " << id;
    return w;
}

void Click(CDialog& dlg, int id) {
    if (QWidget* w = Widget(dlg, id)) QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
}

void Choose(CDialog& dlg, int id, int index) {
    auto* combo = qobject_cast<QComboBox*>(Widget(dlg, id));
    ASSERT_NE(combo, nullptr);
    ASSERT_TRUE(combo->isEnabled()) << "a user cannot choose in disabled combo " << id;
    qt::UserSelect(combo, index);
}

void PressKey(CDialog& dlg, int qtKey) {
    QWidget* w = qt::DialogWidget(dlg);
    QWidget* target = w && w->focusWidget() ? w->focusWidget() : w;
    QTest::keyClick(target, static_cast<Qt::Key>(qtKey));
}

void Focus(CDialog& dlg, int id) {
    if (QWidget* w = Widget(dlg, id)) w->setFocus(Qt::OtherFocusReason);
}

void PressEnter(CDialog& dlg) {
    PressKey(dlg, Qt::Key_Return);
}

void PressEscape(CDialog& dlg) {
    PressKey(dlg, Qt::Key_Escape);
}

PixelRect ControlRect(CDialog& dlg, int id) {
    QWidget* w = Widget(dlg, id);
    const QRect r = w ? w->geometry() : QRect();
    return {r.x(), r.y(), r.width(), r.height()};
}

PixelRect ClientRect(CDialog& dlg) {
    QWidget* w = qt::DialogWidget(dlg);
    return w ? PixelRect{0, 0, w->width(), w->height()} : PixelRect{};
}

BaseUnits DialogBaseUnits(CDialog&) {
    const qt::DluMapper map(qt::DluMapper::PinnedFont());
    return {map.BaseX(), map.BaseY()};
}

bool Enabled(CDialog& dlg, int id) {
    QWidget* w = Widget(dlg, id);
    return w && w->isEnabled();
}

bool Checked(CDialog& dlg, int id) {
    auto* b = qobject_cast<QAbstractButton*>(Widget(dlg, id));
    return b && b->isChecked();
}

int FocusedControl(CDialog& dlg) {
    // The window's own focus widget: where the keys go while it is active, and once it is activated again.
    QWidget* w = qt::DialogWidget(dlg);
    QWidget* f = w ? w->focusWidget() : nullptr;
    if (!f || f->window() != w) return -1;
    for (; f && f != w; f = f->parentWidget())
        if (f->objectName().startsWith(QStringLiteral("control_"))) return f->objectName().mid(8).toInt();
    return 0;
}

void ShowAndAnswerMessageBox(const std::string& text) {
    QTimer::singleShot(0, [] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) return ADD_FAILURE() << "no message box showed";
        QTest::keyClick(box, Qt::Key_Return);
    });
    AfxMessageBox(text, MB_ICONINFORMATION);
}

void ProcessEvents() {
    QCoreApplication::processEvents();
}

std::string Text(CDialog& dlg, int id) {
    QWidget* w = Widget(dlg, id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
    return {};
}

bool ShownAsPlainText(CDialog& dlg, int id) {
    auto* l = qobject_cast<QLabel*>(Widget(dlg, id));
    return l && l->textFormat() == Qt::PlainText;
}

int Selection(CDialog& dlg, int id) {
    auto* c = qobject_cast<QComboBox*>(Widget(dlg, id));
    return c ? c->currentIndex() : -2;
}

std::vector<std::string> Items(CDialog& dlg, int id) {
    std::vector<std::string> items;
    if (auto* c = qobject_cast<QComboBox*>(Widget(dlg, id)))
        for (int i = 0; i < c->count(); ++i) items.push_back(c->itemText(i).toStdString());
    return items;
}

int ProgressSteps(CDialog& dlg, int id) {
    return qt::ProgressSteps(Widget(dlg, id));
}

int ProgressPos(CDialog& dlg, int id) {
    auto* p = qobject_cast<QProgressBar*>(Widget(dlg, id));
    return p ? p->value() : -1;
}

static std::string PlainText(const QString& tip) {
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText().toStdString();
}

std::string ToolTip(CDialog& dlg, int id) {
    QWidget* w = Widget(dlg, id);
    if (!w) return {};
    // The mouse resting on the control: the dialog may bring the tip up to date before it shows.
    const QPoint at = w->rect().center();
    QHelpEvent e(QEvent::ToolTip, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &e);
    return PlainText(w->toolTip());
}

std::string ItemToolTip(CDialog& dlg, int id, int index) {
    auto* c = qobject_cast<QComboBox*>(Widget(dlg, id));
    if (!c || index < 0 || index >= c->count()) return {};
    c->showPopup();
    const bool shown = c->view()->isVisible();
    const std::string tip = PlainText(c->itemData(index, Qt::ToolTipRole).toString());
    c->hidePopup();
    if (!shown) ADD_FAILURE() << "the list of control " << id << " did not drop down";
    return tip;
}

} // namespace pw::test
