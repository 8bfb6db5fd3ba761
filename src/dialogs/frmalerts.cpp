#include "frmalerts.h"

#include "dialogsupport.h"

#include "common/color.h"
#include "common/messagebox.h"
#include "common/twips.h"
#include "store/number.h"
#include "store/taskfile.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>

#include <algorithm>

using Module1::alertRuleCount;
using Module1::alertRules;
using Module1::kRuleSlots;

namespace {

using Design = dialogsupport::ControlDesign<frmAlerts>;
constexpr auto kInFrame = &frmAlerts::Frame1;

// The form as designed, in the order of creation: the caption-line
// controls come after the frame and so lie in front of it.
const Design kControls[] = {
    {&frmAlerts::Frame1,
     {"Frame1", QT_TRANSLATE_NOOP("frmAlerts", "Rule #"), 120, 120, 3375, 2055, 9}},
    {&frmAlerts::cmdBack, {"cmdBack", "<", 840, 120, 375, 255, 0}},
    {&frmAlerts::lblID, {"lblID", nullptr, 1200, 120, 495, 285, 16}},
    {&frmAlerts::cmdNext, {"cmdNext", ">", 1680, 120, 375, 255, 1}},
    {&frmAlerts::cmdNew,
     {"cmdNew", QT_TRANSLATE_NOOP("frmAlerts", "&New"), 2040, 120, 495, 255, 2}},
    {&frmAlerts::cmdCancel,
     {"cmdCancel", QT_TRANSLATE_NOOP("frmAlerts", "&Cancel"), 1920, 2280, 735, 255, 8}},
    {&frmAlerts::cmdOk, {"cmdOk", QT_TRANSLATE_NOOP("frmAlerts", "&Ok"), 2760, 2280, 735, 255, 7}},
    {&frmAlerts::Label2,
     {"Label2", QT_TRANSLATE_NOOP("frmAlerts", "If project is due in:"), 120, 360, 1335, 255, 10},
     kInFrame},
    {&frmAlerts::txtInterval,
     {"txtInterval", nullptr, 1560, 360, 615, 285, 3, Qt::AlignHCenter},
     kInFrame},
    {&frmAlerts::Label3,
     {"Label3", QT_TRANSLATE_NOOP("frmAlerts", "days or less,"), 2280, 360, 975, 255, 11},
     kInFrame},
    {&frmAlerts::Label4,
     {"Label4", QT_TRANSLATE_NOOP("frmAlerts", "Change color to:"), 120, 840, 1455, 255, 12},
     kInFrame},
    {&frmAlerts::pctColor, {"pctColor", nullptr, 1560, 840, 615, 255, 13}, kInFrame},
    {&frmAlerts::cmdSelect,
     {"cmdSelect", QT_TRANSLATE_NOOP("frmAlerts", "&Select..."), 2280, 840, 855, 255, 4},
     kInFrame},
    {&frmAlerts::Label5,
     {"Label5", QT_TRANSLATE_NOOP("frmAlerts", "Popup at Startup?"), 120, 1320, 1455, 255, 14},
     kInFrame},
    // Only the box shows; Label5 and Label6 say what it means.
    {&frmAlerts::chkAlert, {"chkAlert", nullptr, 1920, 1320, 255, 255, 5}, kInFrame},
    {&frmAlerts::Label6,
     {"Label6", QT_TRANSLATE_NOOP("frmAlerts", "yes"), 2280, 1320, 615, 255, 15},
     kInFrame},
    {&frmAlerts::cmdDelete,
     {"cmdDelete", QT_TRANSLATE_NOOP("frmAlerts", "&Delete"), 2280, 1680, 855, 255, 6},
     kInFrame},
};

// What a screen reader says of a colour: one of the sixteen names of HTML 4,
// any other colour by its hex value, red first.
QString colourName(qint32 value)
{
    static const std::pair<QRgb, const char *> kNames[] = {
        {0x000000, QT_TRANSLATE_NOOP("frmAlerts", "black")},
        {0xC0C0C0, QT_TRANSLATE_NOOP("frmAlerts", "silver")},
        {0x808080, QT_TRANSLATE_NOOP("frmAlerts", "gray")},
        {0xFFFFFF, QT_TRANSLATE_NOOP("frmAlerts", "white")},
        {0x800000, QT_TRANSLATE_NOOP("frmAlerts", "maroon")},
        {0xFF0000, QT_TRANSLATE_NOOP("frmAlerts", "red")},
        {0x800080, QT_TRANSLATE_NOOP("frmAlerts", "purple")},
        {0xFF00FF, QT_TRANSLATE_NOOP("frmAlerts", "fuchsia")},
        {0x008000, QT_TRANSLATE_NOOP("frmAlerts", "green")},
        {0x00FF00, QT_TRANSLATE_NOOP("frmAlerts", "lime")},
        {0x808000, QT_TRANSLATE_NOOP("frmAlerts", "olive")},
        {0xFFFF00, QT_TRANSLATE_NOOP("frmAlerts", "yellow")},
        {0x000080, QT_TRANSLATE_NOOP("frmAlerts", "navy")},
        {0x0000FF, QT_TRANSLATE_NOOP("frmAlerts", "blue")},
        {0x008080, QT_TRANSLATE_NOOP("frmAlerts", "teal")},
        {0x00FFFF, QT_TRANSLATE_NOOP("frmAlerts", "aqua")},
    };
    const QColor color = colorFromValue(value);
    for (const auto &[rgb, name] : kNames)
        if ((color.rgb() & 0xFFFFFF) == rgb)
            return QCoreApplication::translate("frmAlerts", name);
    return color.name(QColor::HexRgb).toUpper();
}

// Where the group box draws the start of its caption, in dialog pixels.
int captionStart(const QGroupBox *frame)
{
    QStyleOptionGroupBox opt;
    opt.initFrom(frame);
    opt.text = frame->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = Qt::AlignLeft;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label =
        frame->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, frame);
    return frame->x() + label.x();
}

}  // namespace

frmAlerts::frmAlerts(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Colors & Alerts"));
    dialogsupport::makeFixedDialog(this, 3585, 2595);
    const QList<QWidget *> captioned = dialogsupport::buildControls(*this, kControls);

    // The blanks keep the frame line clear behind the buttons that sit on
    // the caption line: "Rule #", then "<", the number, ">" and "&New".
    Frame1->setTitle(Frame1->title() + QString(41, QLatin1Char(' ')));
    // Shows the current rule's number; the user cannot change it.
    lblID->setReadOnly(true);
    lblID->setContextMenuPolicy(Qt::NoContextMenu);
    lblID->setAcceptDrops(false);
    lblID->setDragEnabled(false);
    QPalette pal = lblID->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    lblID->setPalette(pal);
    cmdOk->setDefault(true);
    dialogsupport::clickAtOnceOnAccessKeys(this);
    txtInterval->installEventFilter(this);
    pctColor->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pctColor->setLineWidth(1);
    pctColor->setAutoFillBackground(true);
    // Screen readers: each input named for what it holds, the paging
    // buttons for what they do (their captions stay "<" and ">").
    cmdBack->setAccessibleName(tr("Previous rule"));
    cmdNext->setAccessibleName(tr("Next rule"));
    lblID->setAccessibleName(tr("Rule number"));
    Label2->setBuddy(txtInterval);
    txtInterval->setAccessibleName(tr("Interval in days"));
    Label4->setBuddy(pctColor);
    Label5->setBuddy(chkAlert);
    chkAlert->setAccessibleName(tr("Popup at Startup?"));
    dialogsupport::fitCaptions(this, captioned,
                               {{tr("Rule #"), double(cmdBack->x() - captionStart(Frame1))}});

    const std::pair<QPushButton * frmAlerts::*, void (frmAlerts::*)()> clicks[] = {
        {&frmAlerts::cmdBack, &frmAlerts::backClicked},
        {&frmAlerts::cmdNext, &frmAlerts::nextClicked},
        {&frmAlerts::cmdNew, &frmAlerts::newClicked},
        {&frmAlerts::cmdDelete, &frmAlerts::deleteClicked},
        {&frmAlerts::cmdSelect, &frmAlerts::selectClicked},
        {&frmAlerts::cmdOk, &frmAlerts::okClicked},
        {&frmAlerts::cmdCancel, &frmAlerts::reject}};
    for (const auto &[button, handler] : clicks)
        connect(this->*button, &QPushButton::clicked, this, handler);
    connect(chkAlert, &QCheckBox::toggled, this, [this](bool ticked) {
        if (m_slot >= 0)
            alertRules[m_slot].popup = ticked;
    });
    connect(txtInterval, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_slot >= 0)
            alertRules[m_slot].interval = Module1::toInt16(Module1::textToNumber(text));
    });
}

void frmAlerts::setOnSaved(std::function<void()> drawList) { m_onSaved = std::move(drawList); }

void frmAlerts::setColorPicker(ColorPicker picker) { m_pickColor = std::move(picker); }

qint32 frmAlerts::swatchColor() const
{
    return valueFromColor(pctColor->palette().color(QPalette::Window));
}

void frmAlerts::setSwatch(qint32 color)
{
    QPalette pal = pctColor->palette();
    pal.setColor(QPalette::Window, colorFromValue(color));
    pctColor->setPalette(pal);
    pctColor->setAccessibleName(tr("Colour: %1").arg(colourName(color)));
}

void frmAlerts::drawAlert(qint16 Index)
{
    if (!isVisible())
        m_before = Snapshot{alertRules, alertRuleCount};
    if (alertRuleCount == 0)
        alertRuleCount = 1;
    // Never show (and so never edit) a slot outside the rules in use.
    const int slot = std::clamp(int(Index), 0, std::clamp(int(alertRuleCount), 1, kRuleSlots) - 1);
    // The slot first: the check box and the interval box write into it.
    m_slot = slot;
    lblID->setText(QString::number(slot + 1));
    // The frame's caption is "Rule #" and blanks; the number lies over them.
    Frame1->setAccessibleName(tr("Rule %1").arg(slot + 1));
    setSwatch(alertRules[slot].color);
    chkAlert->setChecked(alertRules[slot].popup);
    txtInterval->setText(QString::number(alertRules[slot].interval));
}

void frmAlerts::nextClicked()
{
    const int n = m_slot + 1;
    if (n >= 1 && n < alertRuleCount)
        drawAlert(static_cast<qint16>(n));
}

void frmAlerts::backClicked()
{
    const int n = m_slot + 1;
    if (n > 1)
        drawAlert(static_cast<qint16>(n - 2));
}

void frmAlerts::newClicked()
{
    if (alertRuleCount >= kRuleSlots) {
        MessageBox::information(
            this, windowTitle(),
            tr("No rule can be added: the task file holds at most %1 rules.").arg(kRuleSlots));
        return;
    }
    ++alertRuleCount;
    Module1::AlertRule &rule = alertRules[alertRuleCount - 1];
    rule.interval = 0;
    rule.color = 0;
    rule.popup = false;
    rule.unit = QStringLiteral("d");
    drawAlert(static_cast<qint16>(alertRuleCount - 1));
    // On to the new rule's first field, not the paging buttons.
    txtInterval->setFocus(Qt::OtherFocusReason);
}

void frmAlerts::deleteClicked()
{
    int k = m_slot;
    if (k < 0 || k >= alertRuleCount)
        return;
    for (int i = k + 1; i < alertRuleCount; ++i)
        alertRules[i - 1] = alertRules[i];
    --alertRuleCount;
    if (k >= alertRuleCount)
        k = 0;
    drawAlert(static_cast<qint16>(k));
}

std::optional<QColor> frmAlerts::askColorDialog()
{
    if (!m_colorDialog)
        m_colorDialog = new QColorDialog(this);
    if (m_colorDialog->exec() != QDialog::Accepted)
        return std::nullopt;
    return m_colorDialog->selectedColor();
}

void frmAlerts::selectClicked()
{
    const std::optional<QColor> chosen = m_pickColor ? m_pickColor() : askColorDialog();
    // A cancelled picker leaves the swatch and the rule as they were.
    if (!chosen || !chosen->isValid())
        return;
    setSwatch(valueFromColor(*chosen));
    if (m_slot >= 0)
        alertRules[m_slot].color = swatchColor();
}

void frmAlerts::okClicked()
{
    switch (dialogsupport::save(this)) {
    case dialogsupport::Saved::Yes: break;
    case dialogsupport::Saved::No: return;  // still open with every edit in it
    case dialogsupport::Saved::ReadAgain:
    case dialogsupport::Saved::ChangedOutside:  // not asked for
        // Closed as a cancel is: the caller redraws the list it read.
        m_before.reset();
        QDialog::reject();
        return;
    }
    m_before.reset();
    done(QDialog::Accepted);
    if (m_onSaved)
        m_onSaved();
}

void frmAlerts::reject()
{
    if (dialogsupport::reloadFailed(this)) {
        // The tables were left as they were, edits included: undo them here.
        if (m_before) {
            alertRules = m_before->rules;
            alertRuleCount = m_before->count;
        }
    }
    m_before.reset();
    QDialog::reject();
}

void frmAlerts::setVisible(bool visible)
{
    if (visible && !isVisible())
        dialogsupport::beforeShowing(this, cmdBack);
    QDialog::setVisible(visible);
}

bool frmAlerts::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtInterval && event->type() == QEvent::FocusIn) {
        // Typing replaces the interval. A mouse click would place the
        // cursor after this runs, so select once more when it is done.
        txtInterval->selectAll();
        if (static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason)
            QTimer::singleShot(0, txtInterval, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}
