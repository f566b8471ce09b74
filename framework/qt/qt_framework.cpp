#include "framework/qt/qt_framework.h"

#include "framework/dialog.h"
#include "framework/file_dialog.h"
#include "framework/qt/dlu_mapper.h"
#include "framework/resources.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>

#include <algorithm>
#include <map>
#include <vector>

namespace pw::qt {

namespace {

constexpr const char* kIdProperty = "pwControlId";
constexpr const char* kStepsProperty = "pwSteps";
// Wakes a dialog's window for the calls its worker queued.
const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class QtDialogWindow;
// The dialogs whose windows are up, innermost last.
std::vector<QtDialogWindow*>& Windows() {
    static std::vector<QtDialogWindow*> windows;
    return windows;
}

// The message boxes, file dialogs and menus now open over the dialogs, innermost last.
std::vector<QPointer<QWidget>>& Popups() {
    static std::vector<QPointer<QWidget>> popups;
    return popups;
}

// Keeps a message box, file dialog or menu among the Popups() while it runs.
class OpenPopup {
  public:
    explicit OpenPopup(QWidget* popup) { Popups().emplace_back(popup); }
    ~OpenPopup() { Popups().pop_back(); }
    OpenPopup(const OpenPopup&) = delete;
    OpenPopup& operator=(const OpenPopup&) = delete;
};

// A progress bar repaints at once for every new value; the window's event loop paints it once for all
// the steps that came together instead.
void SetProgressValue(QProgressBar* p, int value) {
    p->setUpdatesEnabled(false);
    p->setValue(value);
    p->setUpdatesEnabled(true); // schedules the paint
}

// Tooltips take rich text; ours are plain (device names and texts a device reports), kept on one line.
QString PlainTip(const std::string& text) {
    return text.empty() ? QString()
                        : Qt::convertFromPlainText(QString::fromStdString(text), Qt::WhiteSpaceNoWrap);
}

// A combo box that tells its dialog when its list is about to show (CBN_DROPDOWN).
class DropDownCombo final : public QComboBox {
  public:
    DropDownCombo(QWidget* parent, std::function<void()> onDropDown)
        : QComboBox(parent), m_onDropDown(std::move(onDropDown)) {}
    void showPopup() override {
        m_onDropDown();
        QComboBox::showPopup();
    }

  private:
    std::function<void()> m_onDropDown;
};

// Takes the wake-ups of a dialog's worker for its window, and nothing else. Not a widget, so that no event
// filter of the window's looks at events made on the worker's thread (whose hand-over, inside Qt, a thread
// checker cannot see); what the worker shares goes through the dialog's own queue.
class WakeReceiver final : public QObject {
  public:
    explicit WakeReceiver(CDialog& dlg) : m_dlg(dlg) {}

  protected:
    void customEvent(QEvent*) override { m_dlg.RunPosted(); }

  private:
    CDialog& m_dlg;
};

// What a dialog's window refuses while a worker runs: the user's input to it. Escape becomes the Cancel
// command; the close box and Alt+F4 come as a close event, which is not refused.
class BusyInputFilter final : public QObject {
  public:
    BusyInputFilter(QWidget& window, CDialog& dlg) : m_window(window), m_dlg(dlg) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != &m_window) return false;
        switch (e->type()) {
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(e);
            if (key->key() == Qt::Key_Escape && !(key->modifiers() & ~Qt::KeypadModifier))
                m_dlg.Command(IDCANCEL);
            return true;
        }
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::InputMethod:
            return true;
        default:
            return false;
        }
    }

  private:
    QWidget& m_window;
    CDialog& m_dlg;
};

class QtDialogWindow final : public QDialog, public DialogWindow {
  public:
    QtDialogWindow(CDialog& dlg, const DialogTemplate& t);
    ~QtDialogWindow() override { std::erase(Windows(), this); }

    bool HasControl(int id) const override { return m_controls.count(id) != 0; }
    void EnableControl(int id, bool enable) override {
        QWidget* w = Find(id);
        if (!w) return;
        // Qt would hand the focus of a control it disables to the next one, a push button perhaps.
        if (QWidget* f = focusWidget(); !enable && f && (f == w || w->isAncestorOf(f))) FocusAway(w);
        w->setEnabled(enable);
    }
    bool IsControlEnabled(int id) const override {
        QWidget* w = Find(id);
        return w && w->isEnabledTo(const_cast<QtDialogWindow*>(this));
    }
    std::string GetControlText(int id) const override;
    void SetControlText(int id, const std::string& text) override;
    int GetCheck(int id) const override {
        auto* b = qobject_cast<QAbstractButton*>(Find(id));
        return b && b->isChecked() ? 1 : 0;
    }
    void SetCheck(int id, int checked) override;
    int ComboGetCurSel(int id) const override {
        auto* c = qobject_cast<QComboBox*>(Find(id));
        return c ? c->currentIndex() : CB_ERR;
    }
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCount(int id) const override {
        auto* c = qobject_cast<QComboBox*>(Find(id));
        return c ? c->count() : 0;
    }
    std::string ComboGetLBText(int id, int index) const override {
        auto* c = qobject_cast<QComboBox*>(Find(id));
        return c && index >= 0 && index < c->count() ? c->itemText(index).toStdString() : std::string();
    }
    void SetControlTip(int id, const std::string& text) override {
        if (QWidget* w = Find(id)) w->setToolTip(PlainTip(text));
    }
    void ComboSetItemTip(int id, int index, const std::string& text) override {
        auto* c = qobject_cast<QComboBox*>(Find(id));
        if (c && index >= 0 && index < c->count()) c->setItemData(index, PlainTip(text), Qt::ToolTipRole);
    }
    void ProgressSetRange(int id, int lower, int upper) override {
        if (auto* p = Progress(id)) p->setRange(lower, upper);
    }
    void ProgressSetStep(int id, int step) override { m_steps[id] = step; }
    void ProgressStepIt(int id) override;
    void ProgressSetPos(int id, int pos) override;
    int ProgressGetPos(int id) const override {
        auto* p = qobject_cast<QProgressBar*>(Find(id));
        return p ? p->value() : 0;
    }
    void SetCaption(const std::string& text) override { setWindowTitle(QString::fromStdString(text)); }
    void AppendSystemMenu(unsigned commandId, const std::string& text) override {
        m_systemMenu.emplace_back(commandId, text);
    }
    void Show() override { show(); }
    void RunModal() override {
        m_dlg.HandleInitDialog();
        if (!m_ended) exec();
    }
    void EndModal(int result) override {
        m_ended = true;
        done(result);
    }
    bool Ended() const { return m_ended; }
    void RunBusyLoop() override;
    void QuitBusyLoop() override {
        if (m_busyLoop) m_busyLoop->quit();
    }
    void WakeForPosted() override { QCoreApplication::postEvent(&m_wake, new QEvent(kPostedEvent)); }
    void PostCancel() override {
        QMetaObject::invokeMethod(
            this, [this] { m_dlg.Command(IDCANCEL); }, Qt::QueuedConnection);
    }
    int FocusedControl() const override;
    void RestoreFocus(int id) override;
    void FocusFirstTabStop() override {
        for (QObject* o : children()) // in template order
            if (auto* w = qobject_cast<QWidget*>(o);
                w && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled()) {
                w->setFocus(Qt::TabFocusReason);
                return;
            }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    // The system commands the dialog appended, as a menu of its own (window managers own the window menu).
    void ShowSystemMenu(QPoint at);

  private:
    QWidget* Find(int id) const {
        auto it = m_controls.find(id);
        return it == m_controls.end() ? nullptr : it->second;
    }
    QProgressBar* Progress(int id) const { return qobject_cast<QProgressBar*>(Find(id)); }
    QWidget* Build(const ControlTemplate& c, const DluMapper& map);
    // The focus leaves `leaving`: to the default button when it is enabled, otherwise to the dialog itself,
    // so that it never lands on a push button by itself.
    void FocusAway(QWidget* leaving) {
        if (m_default && m_default != leaving && m_default->isEnabled())
            m_default->setFocus(Qt::OtherFocusReason);
        else
            setFocus(Qt::OtherFocusReason);
    }

    CDialog& m_dlg;
    std::map<int, QWidget*> m_controls;
    std::map<int, int> m_steps;
    std::vector<std::pair<unsigned, std::string>> m_systemMenu;
    QPushButton* m_default = nullptr;
    bool m_ended = false;
    QEventLoop* m_busyLoop = nullptr; // while RunBusyLoop runs
    WakeReceiver m_wake{m_dlg};
};

QtDialogWindow::QtDialogWindow(CDialog& dlg, const DialogTemplate& t) : m_dlg(dlg) {
    Windows().push_back(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromStdString(t.caption));
    setWindowIcon(AppIcon());
    setObjectName(QStringLiteral("dialog_%1").arg(t.id));
    const QFont font = DluMapper::PinnedFont();
    setFont(font);
    DluMapper map(font);
    setFixedSize(map.X(t.cx), map.Y(t.cy));

    QButtonGroup* group = nullptr;
    std::vector<QWidget*> boxes;
    for (const auto& c : t.controls) {
        QWidget* w = Build(c, map);
        if (c.kind == ControlKind::GroupBox) boxes.push_back(w);
        if (c.kind == ControlKind::AutoRadio) {
            if (c.group || !group) group = new QButtonGroup(this);
            group->addButton(static_cast<QRadioButton*>(w));
        } else if (c.group) {
            group = nullptr;
        }
        w->setEnabled(!c.disabled);
        if (c.id != IDC_STATIC) {
            w->setProperty(kIdProperty, c.id);
            w->setObjectName(QStringLiteral("control_%1").arg(c.id));
            m_controls[c.id] = w;
            w->installEventFilter(this); // tooltips ask the dialog first (TTN_NEEDTEXT)
        }
    }
    // Frames sit beneath the controls they surround, so they never take a click meant for one.
    for (QWidget* b : boxes) b->lower();
}

QWidget* QtDialogWindow::Build(const ControlTemplate& c, const DluMapper& map) {
    const QString text = QString::fromStdString(c.text);
    const int id = c.id;
    QWidget* w = nullptr;
    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        if (c.kind == ControlKind::DefPushButton) {
            b->setDefault(true);
            m_default = b;
        }
        connect(b, &QPushButton::clicked, this, [this, id] { m_dlg.Notify(id, BN_CLICKED); });
        w = b;
        break;
    }
    case ControlKind::AutoRadio: {
        auto* r = new QRadioButton(text, this);
        connect(r, &QRadioButton::clicked, this, [this, id] { m_dlg.Notify(id, BN_CLICKED); });
        w = r;
        break;
    }
    case ControlKind::GroupBox:
        w = new QGroupBox(text, this);
        break;
    case ControlKind::Static: {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
    }
    case ControlKind::IconStatic: {
        auto* l = new QLabel(this);
        l->setPixmap(AppIcon().pixmap(32, 32));
        w = l;
        break;
    }
    case ControlKind::ComboDropList:
    case ControlKind::ComboDropDown: {
        auto* cb = new DropDownCombo(this, [this, id] { m_dlg.Notify(id, CBN_DROPDOWN); });
        if (c.kind == ControlKind::ComboDropDown) {
            cb->setEditable(true);
            cb->setInsertPolicy(QComboBox::NoInsert);
        }
        for (const auto& item : c.items) cb->addItem(QString::fromStdString(item));
        cb->setCurrentIndex(-1);
        connect(cb, &QComboBox::activated, this, [this, id] { m_dlg.Notify(id, CBN_SELCHANGE); });
        w = cb;
        break;
    }
    case ControlKind::Progress: {
        auto* p = new QProgressBar(this);
        p->setTextVisible(false);
        p->setRange(0, 100);
        p->setValue(0);
        p->setProperty(kStepsProperty, 0);
        w = p;
        break;
    }
    }
    QRect r = map.Rect(c.x, c.y, c.cx, c.cy);
    if (auto* cb = qobject_cast<QComboBox*>(w)) {
        // The template's height includes the dropped list; the closed box keeps its natural height.
        const int boxHeight = std::max(cb->sizeHint().height(), map.Y(12));
        const int itemHeight = std::max(1, cb->fontMetrics().height() + 2);
        cb->setMaxVisibleItems(std::max(1, (r.height() - boxHeight) / itemHeight));
        r.setHeight(boxHeight);
    }
    w->setGeometry(r);
    w->setFocusPolicy(c.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    return w;
}

std::string QtDialogWindow::GetControlText(int id) const {
    QWidget* w = Find(id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
    return {};
}

void QtDialogWindow::SetControlText(int id, const std::string& text) {
    QWidget* w = Find(id);
    const QString t = QString::fromStdString(text);
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(t);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(t);
    else if (auto* c = qobject_cast<QComboBox*>(w); c && c->isEditable())
        c->setEditText(t);
}

void QtDialogWindow::SetCheck(int id, int checked) {
    auto* b = qobject_cast<QAbstractButton*>(Find(id));
    if (!b || b->isChecked() == (checked != 0)) return;
    QButtonGroup* g = b->group();
    // An exclusive group will not let its checked button go; unchecking all buttons of a row must work.
    if (g && !checked) g->setExclusive(false);
    b->setChecked(checked != 0);
    if (g && !checked) g->setExclusive(true);
}

void QtDialogWindow::ComboSetCurSel(int id, int index) {
    auto* c = qobject_cast<QComboBox*>(Find(id));
    if (!c) return;
    if (index < 0 || index >= c->count()) {
        c->setCurrentIndex(-1);
        if (c->isEditable()) c->setEditText(QString());
    } else {
        c->setCurrentIndex(index);
    }
}

void QtDialogWindow::ProgressStepIt(int id) {
    auto* p = Progress(id);
    if (!p) return;
    int pos = p->value() + m_steps[id];
    if (pos > p->maximum()) pos = p->minimum(); // past the end it starts over
    SetProgressValue(p, pos);
    p->setProperty(kStepsProperty, p->property(kStepsProperty).toInt() + 1);
}

void QtDialogWindow::ProgressSetPos(int id, int pos) {
    auto* p = Progress(id);
    if (!p) return;
    SetProgressValue(p, std::clamp(pos, p->minimum(), p->maximum()));
}

void QtDialogWindow::RunBusyLoop() {
    BusyInputFilter filter(*this, m_dlg);
    qApp->installEventFilter(&filter);
    setCursor(Qt::BusyCursor);
    QEventLoop loop;
    m_busyLoop = &loop;
    loop.exec();
    m_busyLoop = nullptr;
    unsetCursor();
    qApp->removeEventFilter(&filter);
}

int QtDialogWindow::FocusedControl() const {
    for (QWidget* w = focusWidget(); w && w != this; w = w->parentWidget())
        if (QVariant id = w->property(kIdProperty); id.isValid()) return id.toInt();
    return 0;
}

void QtDialogWindow::RestoreFocus(int id) {
    QWidget* w = Find(id);
    if (w && w->isEnabled()) {
        if (QWidget* f = focusWidget(); !f || !(f == w || w->isAncestorOf(f)))
            w->setFocus(Qt::OtherFocusReason);
    } else if (QWidget* f = focusWidget(); !f || !f->isEnabled()) {
        FocusAway(w);
    }
}

bool QtDialogWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::ToolTip)
        if (QVariant id = watched->property(kIdProperty); id.isValid())
            m_dlg.Notify(id.toInt(), TTN_NEEDTEXT);
    return QDialog::eventFilter(watched, e); // the control then shows its tooltip as it now is
}

void QtDialogWindow::keyPressEvent(QKeyEvent* e) {
    if (e->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) return QDialog::keyPressEvent(e);
    switch (e->key()) {
    case Qt::Key_Escape:
        m_dlg.Command(IDCANCEL);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // As the dialog manager does it: the focused push button; with none focused, the default button
        // when it is enabled (a disabled one takes Enter and does nothing); in a dialog without one, IDOK.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
            focused->click();
        } else if (m_default) {
            if (m_default->isEnabled()) m_default->click();
        } else {
            m_dlg.Command(IDOK);
        }
        return;
    case Qt::Key_F10: // Shift+F10, like the Menu key, opens the dialog's own menu
        if (e->modifiers() & Qt::ShiftModifier) {
            ShowSystemMenu(mapToGlobal(QPoint(width() / 4, height() / 4)));
            return;
        }
        QDialog::keyPressEvent(e);
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

void QtDialogWindow::closeEvent(QCloseEvent* e) {
    e->ignore(); // the dialog decides, as the Cancel command does
    m_dlg.Command(IDCANCEL);
}

void QtDialogWindow::contextMenuEvent(QContextMenuEvent* e) {
    ShowSystemMenu(e->reason() == QContextMenuEvent::Mouse ? e->globalPos()
                                                           : mapToGlobal(QPoint(width() / 4, height() / 4)));
}

void QtDialogWindow::ShowSystemMenu(QPoint at) {
    if (m_systemMenu.empty()) return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("systemMenu"));
    for (const auto& [cmd, text] : m_systemMenu) {
        if (text.empty()) {
            menu.addSeparator();
            continue;
        }
        QAction* a = menu.addAction(QString::fromStdString(text));
        a->setData(cmd);
    }
    QAction* chosen = nullptr;
    {
        OpenPopup open(&menu);
        chosen = menu.exec(at);
    }
    if (chosen) m_dlg.SysCommand(chosen->data().toUInt(), 0);
}

QMessageBox::Icon IconFor(unsigned type) {
    switch (type & 0xF0) {
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Owner of a message box: the innermost dialog that shows, so that the box is modal to it.
QWidget* ModalOwner() {
    for (auto it = Windows().rbegin(); it != Windows().rend(); ++it)
        if ((*it)->isVisible()) return *it;
    return QApplication::activeWindow();
}

int ShowMessageBox(const std::string& text, unsigned type, const std::string& detail) {
    QWidget* owner = ModalOwner();
    QPointer<QWidget> focus = owner ? owner->focusWidget() : nullptr;
    QMessageBox box(IconFor(type), QCoreApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty()) box.setInformativeText(Qt::convertFromPlainText(QString::fromStdString(detail)));
    box.setWindowIcon(AppIcon());
    {
        OpenPopup open(&box);
        box.exec();
    }
    // The focus goes back where it was, not to a push button of Qt's choosing.
    if (focus && focus->isEnabled()) focus->setFocus(Qt::OtherFocusReason);
    return IDOK;
}

// "Status Files (*.sts)|*.sts|" -> "Status Files (*.sts)"
QString QtFilter(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].isEmpty()) out << parts[i];
    return out.join(QStringLiteral(";;"));
}

FileDialogAnswer ShowFileDialog(const FileDialogRequest& req) {
    QFileDialog dlg(QApplication::activeWindow(), QString::fromStdString(req.title));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setAcceptMode(req.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(req.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !(req.flags & OFN_OVERWRITEPROMPT));
    dlg.setNameFilter(QtFilter(req.filter));
    if (req.initialName.find('*') == std::string::npos)
        dlg.selectFile(QString::fromStdString(req.initialName));
    dlg.setWindowIcon(AppIcon());
    int answer = QDialog::Rejected;
    {
        OpenPopup open(&dlg);
        answer = dlg.exec();
    }
    if (answer != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {IDCANCEL, {}};
    return {IDOK, dlg.selectedFiles().first().toStdString()};
}

} // namespace

QIcon AppIcon() {
    const IconResource& resource = pw::AppIcon();
    QIcon icon;
    for (const char* const* xpm : {resource.image32, resource.image16})
        if (xpm) icon.addPixmap(QPixmap(xpm));
    return icon;
}

void InstallQtFramework() {
    SetWindowFactory([](CDialog& dlg, const DialogTemplate& t) -> std::unique_ptr<DialogWindow> {
        return std::make_unique<QtDialogWindow>(dlg, t);
    });
    SetMessageBoxPresenter(ShowMessageBox);
    SetFileDialogPresenter(ShowFileDialog);
    QApplication::setWindowIcon(AppIcon());
}

void CloseForStop() {
    // The close box first, so that work under way is told to stop before a message box it waits for ends.
    if (!Windows().empty() && !Windows().back()->Ended()) Windows().back()->close();
    const std::vector<QPointer<QWidget>> popups = Popups();
    for (auto it = popups.rbegin(); it != popups.rend(); ++it) {
        if (!*it) continue;
        if (auto* dialog = qobject_cast<QDialog*>(it->data()))
            dialog->reject();
        else
            (*it)->close();
    }
}

QWidget* ControlWidget(CDialog& dlg, int id) {
    auto* w = dynamic_cast<QtDialogWindow*>(dlg.Window());
    return w ? w->findChild<QWidget*>(QStringLiteral("control_%1").arg(id)) : nullptr;
}

QWidget* DialogWidget(CDialog& dlg) {
    return dynamic_cast<QtDialogWindow*>(dlg.Window());
}

void UserSelect(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

int ProgressSteps(QWidget* progress) {
    return progress ? progress->property(kStepsProperty).toInt() : 0;
}

} // namespace pw::qt
