#include "frmalerts.h"

#include "dialogsupport.h"

#include "common/color.h"
#include "common/messagebox.h"
#include "common/twips.h"
#include "store/number.h"
#include "store/taskfile.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
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

QLabel *makeLabel(QWidget *parent, const QString &text, double left, double top, double width,
                  double height)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeInTwips(label, left, top, width, height);
    return label;
}

QPushButton *makeButton(QWidget *parent, const QString &text, const char *name, double left,
                        double top, double width, double height)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    placeInTwips(button, left, top, width, height);
    return button;
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

    // The blanks keep the frame line clear behind the buttons that sit on
    // the caption line: "Rule #", then "<", the number, ">" and "&New".
    Frame1 = new QGroupBox(tr("Rule #") + QString(41, QLatin1Char(' ')), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFlat(false);
    placeInTwips(Frame1, 120, 120, 3375, 2055);

    cmdBack = makeButton(this, QStringLiteral("<"), "cmdBack", 840, 120, 375, 255);
    lblID = new QLineEdit(this);
    lblID->setObjectName(QStringLiteral("lblID"));
    // Shows the current rule's number; the user cannot change it.
    lblID->setReadOnly(true);
    lblID->setContextMenuPolicy(Qt::NoContextMenu);
    lblID->setAcceptDrops(false);
    lblID->setDragEnabled(false);
    {
        QPalette pal = lblID->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        lblID->setPalette(pal);
    }
    placeInTwips(lblID, 1200, 120, 495, 285);
    cmdNext = makeButton(this, QStringLiteral(">"), "cmdNext", 1680, 120, 375, 255);
    cmdNew = makeButton(this, tr("&New"), "cmdNew", 2040, 120, 495, 255);
    cmdCancel = makeButton(this, tr("&Cancel"), "cmdCancel", 1920, 2280, 735, 255);
    cmdOk = makeButton(this, tr("&Ok"), "cmdOk", 2760, 2280, 735, 255);
    cmdOk->setDefault(true);

    Label2 = makeLabel(Frame1, tr("If project is due in:"), 120, 360, 1335, 255);
    txtInterval = new QLineEdit(Frame1);
    txtInterval->setObjectName(QStringLiteral("txtInterval"));
    txtInterval->setAlignment(Qt::AlignCenter);
    txtInterval->installEventFilter(this);
    placeInTwips(txtInterval, 1560, 360, 615, 285);
    Label3 = makeLabel(Frame1, tr("days or less,"), 2280, 360, 975, 255);
    Label4 = makeLabel(Frame1, tr("Change color to:"), 120, 840, 1455, 255);
    pctColor = new QFrame(Frame1);
    pctColor->setObjectName(QStringLiteral("pctColor"));
    pctColor->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pctColor->setLineWidth(1);
    pctColor->setAutoFillBackground(true);
    placeInTwips(pctColor, 1560, 840, 615, 255);
    cmdSelect = makeButton(Frame1, tr("&Select..."), "cmdSelect", 2280, 840, 855, 255);
    Label5 = makeLabel(Frame1, tr("Popup at Startup?"), 120, 1320, 1455, 255);
    // Only the box shows; Label5 and Label6 say what it means.
    chkAlert = new QCheckBox(Frame1);
    chkAlert->setObjectName(QStringLiteral("chkAlert"));
    chkAlert->setAccessibleName(tr("Popup at Startup?"));
    placeInTwips(chkAlert, 1920, 1320, 255, 255);
    Label6 = makeLabel(Frame1, tr("yes"), 2280, 1320, 615, 255);
    cmdDelete = makeButton(Frame1, tr("&Delete"), "cmdDelete", 2280, 1680, 855, 255);

    // The caption-line controls lie in front of the frame.
    for (QWidget *w : {static_cast<QWidget *>(cmdBack), static_cast<QWidget *>(lblID),
                       static_cast<QWidget *>(cmdNext), static_cast<QWidget *>(cmdNew)})
        w->raise();

    const QList<QWidget *> order = {cmdBack, cmdNext, cmdNew, txtInterval, cmdSelect, chkAlert,
                                    cmdDelete, cmdOk, cmdCancel, lblID};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    dialogsupport::fitCaptions(
        this,
        {Label2, Label3, Label4, Label5, Label6, cmdBack, cmdNext, cmdNew, cmdCancel, cmdOk,
         cmdSelect, cmdDelete},
        {{tr("Rule #"), double(cmdBack->x() - captionStart(Frame1))}});

    connect(cmdBack, &QPushButton::clicked, this, &frmAlerts::backClicked);
    connect(cmdNext, &QPushButton::clicked, this, &frmAlerts::nextClicked);
    connect(cmdNew, &QPushButton::clicked, this, &frmAlerts::newClicked);
    connect(cmdDelete, &QPushButton::clicked, this, &frmAlerts::deleteClicked);
    connect(cmdSelect, &QPushButton::clicked, this, &frmAlerts::selectClicked);
    connect(cmdOk, &QPushButton::clicked, this, &frmAlerts::okClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &frmAlerts::reject);
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
}

void frmAlerts::drawAlert(const qint16 &Index)
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
        MessageBox::information(this, windowTitle(),
                                tr("No rule can be added: the task file holds at most %1 rules.")
                                    .arg(kRuleSlots));
        return;
    }
    ++alertRuleCount;
    Module1::AlertRule &rule = alertRules[alertRuleCount - 1];
    rule.interval = 0;
    rule.color = 0;
    rule.popup = false;
    rule.unit = QStringLiteral("d");
    drawAlert(static_cast<qint16>(alertRuleCount - 1));
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
    // On a failed save the dialog stays open with every edit in it.
    if (dialogsupport::saveFailed(this))
        return;
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
    if (visible && !isVisible()) {
        dialogsupport::centreOverParent(this);
        cmdBack->setFocus(Qt::OtherFocusReason);
    }
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
