// The main dialog's controls as its table describes them: made, connected, shown and read.
#include "ui/dialogcontrols.h"
#include "ui/percentbar.h"
#include "ui/vantreldlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

namespace vantrel {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QString Number(unsigned value) {
    return QString::number(value);
}

} // namespace

QWidget* CVantrelDlg::Control(int id) const {
    auto found = m_controls.find(id);
    return found != m_controls.end() ? found->second : nullptr;
}

QLineEdit* CVantrelDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}

QWidget* CVantrelDlg::MakeControl(EControlId id) {
    const DialogControl& row = *FindDialogControl(id);
    const QString caption = row.caption != nullptr ? Text(row.caption) : QString();
    QWidget* control = nullptr;
    switch (row.kind) {
    case CK_EDIT: {
        auto* edit = new QLineEdit(this);
        if (row.secret)
            edit->setEchoMode(QLineEdit::Password);
        control = edit;
        break;
    }
    case CK_CHECK:
        control = new QCheckBox(caption, this);
        break;
    case CK_RADIO:
        control = new QRadioButton(caption, this);
        break;
    case CK_COUNTER: {
        auto* label = new QLabel(Text("0"), this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        control = label;
        break;
    }
    case CK_BUTTON:
        control = new QPushButton(caption, this);
        break;
    case CK_LABEL:
        control = new QLabel(caption, this);
        break;
    case CK_BAR:
        control = new CPercentBar(this);
        break;
    }
    control->setProperty(kControlIdProperty, static_cast<int>(id));
    if (row.name != nullptr)
        control->setAccessibleName(Text(row.name));
    m_controls.emplace(id, control);
    return control;
}

void CVantrelDlg::ConnectControls() {
    for (const DialogControl& row : DialogControls()) {
        auto* button = qobject_cast<QAbstractButton*>(Control(row.id));
        if (row.onCheck != nullptr) {
            // Called through a std::function: a member-function pointer captured in a slot lambda
            // is miscompiled by GCC 12 with -fsanitize=undefined (the lambda sees a wrong this).
            std::function<void(CVantrelController&, bool)> handler = row.onCheck;
            connect(button, &QAbstractButton::clicked, this, [this, handler = std::move(handler)](bool checked) {
                if (m_controller != nullptr)
                    handler(*m_controller, checked);
            });
        } else if (row.kind == CK_RADIO) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, group = row.group, value = row.value](bool checked) {
                        if (m_controller == nullptr || !checked)
                            return;
                        if (group == RG_SERVER_MODE)
                            m_controller->OnServerMode(static_cast<EServerMode>(value));
                        else
                            m_controller->OnClientPriority(static_cast<EClientPriority>(value));
                    });
        } else if (row.onClick != nullptr) {
            connect(button, &QAbstractButton::clicked, this, [this, action = row.onClick] {
                if (m_controller != nullptr)
                    action(*m_controller);
            });
        }
        // Only the user's edits: the fields shown by ShowFields must not call back into the logic.
        if (row.onTyped != nullptr)
            connect(Edit(row.id), &QLineEdit::textEdited, this, [this, action = row.onTyped] {
                if (m_controller != nullptr)
                    action(*m_controller);
            });
        if (row.onLeave != nullptr)
            Edit(row.id)->installEventFilter(this);
    }
    // New Client asks for its file before the controller hears of it.
    connect(qobject_cast<QPushButton*>(Control(IDC_NEW_CLIENT)), &QPushButton::clicked, this, [this] {
        if (m_controller != nullptr)
            OnNewClient();
    });
}

bool CVantrelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusOut || m_controller == nullptr || m_bEnded || m_nPromptDepth > 0)
        return QDialog::eventFilter(watched, event);
    // The field's own context menu takes the focus only for a moment; the edit has not ended.
    if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason)
        return QDialog::eventFilter(watched, event);
    const DialogControl* row = FindDialogControl(watched->property(kControlIdProperty).toInt());
    if (row != nullptr && row->onLeave != nullptr && watched == Control(row->id))
        row->onLeave(*m_controller);
    return QDialog::eventFilter(watched, event);
}

// --- Showing and reading ---

bool CVantrelDlg::ReadFields() {
    QLineEdit* refused = CopyFields();
    if (refused == nullptr)
        return true;
    RefuseField(refused);
    return false;
}

void CVantrelDlg::ReadFieldsQuietly() {
    CopyFields();
}

QLineEdit* CVantrelDlg::CopyFields() {
    QLineEdit* refused = nullptr;
    for (const DialogControl& row : DialogControls()) {
        if (row.kind != CK_EDIT)
            continue;
        QLineEdit* edit = Edit(row.id);
        const std::string typed = edit->text().toStdString();
        if (row.text != nullptr)
            m_options.*row.text = typed;
        else if (auto value = row.parse(typed))
            m_options.*row.number = *value;
        else if (refused == nullptr)
            refused = edit;
    }
    return refused;
}

bool CVantrelDlg::FieldsAcceptable() const {
    for (const DialogControl& row : DialogControls())
        if (row.parse != nullptr && !row.parse(Edit(row.id)->text().toStdString()))
            return false;
    return true;
}

void CVantrelDlg::SetEditText(int id, const QString& text) {
    QLineEdit* edit = Edit(id);
    // Setting the same text again would only wipe the field's undo history.
    if (edit->text() != text)
        edit->setText(text);
}

void CVantrelDlg::SetChecked(int id, bool checked) {
    qobject_cast<QAbstractButton*>(Control(id))->setChecked(checked);
}

int CVantrelDlg::RadioValue(ERadioGroup group) const {
    return group == RG_SERVER_MODE ? static_cast<int>(m_options.ServerMode.load())
                                   : static_cast<int>(m_options.ClientPriority.load());
}

void CVantrelDlg::ShowFields() {
    if (m_options.DesiredCacheSize > 0)
        m_emptyCacheHint->hide();
    const CacheCounters* counters = m_controller != nullptr ? &m_controller->Counters() : nullptr;
    for (const DialogControl& row : DialogControls()) {
        if (row.number != nullptr)
            SetEditText(row.id, Number(m_options.*row.number));
        else if (row.text != nullptr)
            SetEditText(row.id, QString::fromStdString(m_options.*row.text));
        else if (row.counter != nullptr && counters != nullptr)
            qobject_cast<QLabel*>(Control(row.id))->setText(Number(counters->*row.counter));
        else if (row.flag != nullptr)
            SetChecked(row.id, m_options.*row.flag);
        else if (row.kind == CK_RADIO && RadioValue(row.group) == row.value)
            SetChecked(row.id, true);
    }
}

void CVantrelDlg::ShowProgress(const ProgressFigures& figures) {
    for (const DialogControl& row : DialogControls())
        if (row.figure != nullptr)
            qobject_cast<QLabel*>(Control(row.id))->setText(QString::fromStdString(figures.*row.figure));
    m_bar->SetPercent(figures.Fraction);
}

void CVantrelDlg::EnableServerControls(const ServerControlStates& states) {
    for (const DialogControl& row : DialogControls())
        if (row.server)
            Control(row.id)->setEnabled(states[*row.server]);
    SetChecked(IDC_USE_COLON, m_options.UseColon);
}

void CVantrelDlg::HideAffinityCheckBox() {
    Control(IDC_SET_AFFINITY)->hide();
}

} // namespace vantrel
