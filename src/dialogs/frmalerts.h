#pragma once

#include "store/tables.h"

#include <QColor>
#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QColorDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Colors & Alerts": pages through Module1::alertRules one rule at a time
// and edits them in place. "&Ok" writes the task file and redraws the list;
// "&Cancel", Esc and the close box read the file back.
class frmAlerts : public QDialog {
    Q_OBJECT

public:
    explicit frmAlerts(QWidget *parent = nullptr);

    // Shows the rule in slot Index (from 0) and makes it the current rule.
    void drawAlert(qint16 Index);
    // Called after "&Ok" has saved and hidden the dialog.
    void setOnSaved(std::function<void()> drawList);

    // What "&Select..." asks for a colour; nullopt means the user cancelled.
    // By default the one colour dialog kept for the run.
    using ColorPicker = std::function<std::optional<QColor>()>;
    void setColorPicker(ColorPicker picker);

    QGroupBox *Frame1 = nullptr;
    QPushButton *cmdBack = nullptr;
    QLineEdit *lblID = nullptr;
    QPushButton *cmdNext = nullptr;
    QPushButton *cmdNew = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdOk = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtInterval = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    // The swatch: a label without text, so that screen readers read its
    // name ("Colour: red").
    QLabel *pctColor = nullptr;
    QPushButton *cmdSelect = nullptr;
    QLabel *Label5 = nullptr;
    QCheckBox *chkAlert = nullptr;
    QLabel *Label6 = nullptr;
    QPushButton *cmdDelete = nullptr;

    // The swatch's colour as the table stores it.
    qint32 swatchColor() const;

public slots:
    // Esc and the close box end up here too: all three act as "&Cancel".
    void reject() override;

protected:
    void setVisible(bool visible) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setSwatch(qint32 color);
    std::optional<QColor> askColorDialog();

    void backClicked();
    void nextClicked();
    void newClicked();
    void deleteClicked();
    void selectClicked();
    void okClicked();

    // The current rule's slot, -1 before the first drawAlert; lblID only
    // shows its number.
    int m_slot = -1;
    std::function<void()> m_onSaved;
    ColorPicker m_pickColor;
    QColorDialog *m_colorDialog = nullptr;
    // The rules as the caller handed them over, put back when a cancel
    // cannot read the file, so abandoned edits are never saved later.
    struct Snapshot {
        std::array<Module1::AlertRule, Module1::kRuleSlots> rules;
        qint16 count = 0;
    };
    std::optional<Snapshot> m_before;
};
