// The dialog's table of controls: every row is a widget of its kind, the tab order and the
// mnemonics stay where users know them, and every option reaches its control and comes back.
#include "test_dialog_support.h"
#include "ui/dialogcontrols.h"
#include "ui/percentbar.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

using test::DialogScene;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

const char* ClassOfKind(EControlKind kind) {
    switch (kind) {
    case CK_EDIT:
        return "QLineEdit";
    case CK_CHECK:
        return "QCheckBox";
    case CK_RADIO:
        return "QRadioButton";
    case CK_COUNTER:
    case CK_LABEL:
        return "QLabel";
    case CK_BUTTON:
        return "QPushButton";
    case CK_BAR:
        return "vantrel::CPercentBar";
    }
    return "";
}

QString Caption(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    return {};
}

TEST(DialogControls, EveryRowIsOneWidgetOfItsKindAndNoWidgetIsOutsideTheTable) {
    DialogScene scene;
    std::map<int, int> widgets; // id: how many widgets carry it
    for (QWidget* widget : scene.dialog->findChildren<QWidget*>())
        if (QVariant id = widget->property(kControlIdProperty); id.isValid())
            ++widgets[id.toInt()];

    std::set<int> rows;
    for (const DialogControl& row : DialogControls()) {
        SCOPED_TRACE(row.id);
        EXPECT_TRUE(rows.insert(row.id).second) << "one row per id";
        EXPECT_EQ(widgets[row.id], 1);
        QWidget* control = scene.dialog->Control(row.id);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->inherits(ClassOfKind(row.kind))) << control->metaObject()->className();
        if (row.kind != CK_COUNTER && row.kind != CK_EDIT && row.kind != CK_BAR) {
            EXPECT_EQ(Caption(control), row.caption != nullptr ? Text(row.caption) : QString());
        }
        // What each kind needs to be shown, read or heard.
        switch (row.kind) {
        case CK_EDIT:
            EXPECT_NE(row.text != nullptr, row.number != nullptr && row.parse != nullptr);
            break;
        case CK_CHECK:
            EXPECT_TRUE(row.flag != nullptr && row.onCheck != nullptr);
            break;
        case CK_COUNTER:
            EXPECT_NE(row.counter, nullptr);
            break;
        case CK_BUTTON:
            EXPECT_EQ(row.onClick == nullptr, row.id == IDC_NEW_CLIENT);
            break;
        default:
            break;
        }
    }
    EXPECT_EQ(rows.size(), widgets.size()) << "every control with an id has its row";
    EXPECT_EQ(rows.size(), 40u);
}

TEST(DialogControls, TabOrderMnemonicsAndBuddiesStayWhereUsersKnowThem) {
    DialogScene scene;
    std::vector<int> tabOrder;
    for (QWidget* widget = scene.dialog->nextInFocusChain(); widget != scene.dialog.get();
         widget = widget->nextInFocusChain())
        if (QVariant id = widget->property(kControlIdProperty); id.isValid() && (widget->focusPolicy() & Qt::TabFocus))
            tabOrder.push_back(id.toInt());
    // The left column and the buttons under it, then the three groups on the right.
    EXPECT_EQ(tabOrder,
              (std::vector<int>{1004, 1000, 1012, 1031, 1054, 1055, 1051, 1028, 1008, 1007, 1013, 1014, 1015, 1018,
                                1019, 1052, 1020, 1021, 1040, 1041, 1045, 1046, 1026, 1048, 1050, 1049, 1053}));

    const std::map<int, const char*> mnemonics = {
        {1012, "&Hide Processing"},
        {1031, "&Auto Transmit"},
        {1054, "Display &Transmit"},
        {1013, "No Proxy/Soc&ks"},
        {1014, "Pro&xy Server"},
        {1015, "&Socks Server"},
        {1016, "H&ost:"},
        {1017, "&Port:"},
        {1052, "Use &Colon"},
        {1022, "Socks &UserName:"},
        {1023, "Socks Passwo&rd:"},
        {1040, "Use Vantrel"},
        {1041, "Use ORVA Sp&y"},
        {1045, "Use &24Hr Clock"},
        {1046, "Create ORVA&Log.csv"},
        {1048, "Lo&w"},
        {1050, "&Normal"},
        {1049, "H&igh"},
        {1053, "Set Processor A&ffinity"},
        {1051, "Save Confi&g"},
        {1028, "N&ew Client"},
    };
    for (const auto& [id, caption] : mnemonics)
        EXPECT_EQ(Caption(scene.dialog->Control(id)), Text(caption)) << id;

    // A label's mnemonic focuses the field beside it.
    std::map<QString, int> buddies;
    for (QLabel* label : scene.dialog->findChildren<QLabel*>())
        if (label->buddy() != nullptr && label->text().contains(QLatin1Char('&')))
            buddies[label->text()] = label->buddy()->property(kControlIdProperty).toInt();
    EXPECT_EQ(buddies, (std::map<QString, int>{{Text("&Maximum Processes:"), 1004},
                                               {Text("&Desired Cache Size:"), 1000},
                                               {Text("H&ost:"), 1018},
                                               {Text("&Port:"), 1019},
                                               {Text("Socks &UserName:"), 1020},
                                               {Text("Socks Passwo&rd:"), 1021}}));
}

TEST(DialogControls, EveryOptionReachesItsControlAndComesBack) {
    DialogScene scene({"-cpu", "2"});
    scene.Init();
    COptions& options = scene.options;
    const std::pair<int, std::atomic<bool> COptions::*> checks[] = {
        {1012, &COptions::HideProcessing}, {1031, &COptions::AutoTransmit},    {1054, &COptions::DisplayTransmit},
        {1052, &COptions::UseColon},       {1040, &COptions::MonitorProgress}, {1041, &COptions::UseSpy},
        {1045, &COptions::Use24HourClock}, {1046, &COptions::CreateLog},       {1053, &COptions::SetAffinity},
        {1055, &COptions::NotifyProblems},
    };
    // Each option alone checks its own box.
    for (const auto& [id, flag] : checks) {
        for (const auto& [other, otherFlag] : checks)
            options.*otherFlag = other == id;
        scene.dialog->ShowFields();
        for (const auto& [other, otherFlag] : checks)
            EXPECT_EQ(scene.Button(other)->isChecked(), other == id) << id << " shown, " << other << " looked at";
    }

    // Each radio sets its option when clicked, and shows it when the option is set elsewhere.
    const std::pair<int, int> servers[] = {{1014, SM_PROXY}, {1013, SM_NONE}, {1015, SM_SOCKS}};
    for (const auto& [id, mode] : servers) {
        scene.Button(id)->click();
        EXPECT_EQ(options.ServerMode, mode) << id;
    }
    const std::pair<int, int> priorities[] = {{1050, CP_NORMAL}, {1049, CP_HIGH}, {1048, CP_LOW}};
    for (const auto& [id, priority] : priorities) {
        scene.Button(id)->click();
        EXPECT_EQ(options.ClientPriority, priority) << id;
    }
    options.ServerMode = SM_PROXY;
    options.ClientPriority = CP_HIGH;
    scene.dialog->ShowFields();
    EXPECT_TRUE(scene.Button(1014)->isChecked());
    EXPECT_TRUE(scene.Button(1049)->isChecked());

    // Each box clicked changes its own option (the socks server above left "Use Colon" free).
    for (const auto& [id, flag] : checks) {
        const bool before = (options.*flag).load();
        scene.Button(id)->click();
        EXPECT_NE((options.*flag).load(), before) << id;
        EXPECT_EQ(scene.Button(id)->isChecked(), (options.*flag).load()) << id;
    }

    // The fields show their options; what is typed there is read back into them.
    options.MaxProcesses = 2;
    options.ServerHost = "proxy.example";
    options.ServerPort = 3128;
    options.SocksUser = "Ann Lee";
    options.SocksPassword = "p w;'";
    scene.dialog->ShowFields();
    const std::map<int, const char*> shown = {
        {1004, "2"}, {1018, "proxy.example"}, {1019, "3128"}, {1020, "Ann Lee"}, {1021, "p w;'"}};
    for (const auto& [id, text] : shown)
        EXPECT_EQ(scene.Edit(id)->text(), Text(text)) << id;
    EXPECT_EQ(scene.Edit(1021)->echoMode(), QLineEdit::Password);
    for (auto [id, text] : std::initializer_list<std::pair<int, const char*>>{
             {1004, "1"}, {1018, "socks.example"}, {1019, "1080"}, {1020, "Bo"}, {1021, "secret"}})
        scene.Edit(id)->setText(Text(text));
    ASSERT_TRUE(scene.dialog->ReadFields());
    EXPECT_EQ(options.MaxProcesses, 1u);
    EXPECT_EQ(options.ServerHost, "socks.example");
    EXPECT_EQ(options.ServerPort, 1080u);
    EXPECT_EQ(options.SocksUser, "Bo");
    EXPECT_EQ(options.SocksPassword, "secret");

    // The progress figures land in their three labels and the bar.
    scene.dialog->ShowProgress({0.25f, "12:00:00", "9:00:00", "Mon 18:00"});
    EXPECT_EQ(scene.Label(1030)->text(), Text("12:00:00"));
    EXPECT_EQ(scene.Label(1043)->text(), Text("9:00:00"));
    EXPECT_EQ(scene.Label(1044)->text(), Text("Mon 18:00"));
    EXPECT_FLOAT_EQ(qobject_cast<CPercentBar*>(scene.dialog->Control(1029))->Percent(), 25.0f);
}

} // namespace
} // namespace vantrel
