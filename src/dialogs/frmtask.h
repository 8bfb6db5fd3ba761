#pragma once

#include "store/tables.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
namespace dialogsupport {
class LimitedTextEdit;
}

// "New / Edit task": edits one record of Module1::tasks in place. Every
// change of a box goes into the record at once; "&Ok" writes the task file
// and reads it back, "&Cancel", Esc and the close box read it back.
class frmTask : public QDialog {
    Q_OBJECT

public:
    explicit frmTask(QWidget *parent = nullptr);

    // Points the dialog at task number Index (from 1) and fills the boxes.
    // newTask: the caller has raised taskCount by one for this task.
    void prepare(qint16 Index, bool newTask = false);
    // Called after "&Ok" has saved, reloaded and hidden the dialog.
    void setOnSaved(std::function<void()> drawList);

    // The task number being edited; -1 after "&Cancel".
    qint16 selected = 0;

    // Whether this showing met a task file changed outside and read it
    // again: the tables' slots then differ from those the caller's rows name.
    bool readAgain() const { return m_readAgain; }
    // What the task the last "&Ok" saved holds (to find it again whatever
    // slot it now has); nothing when this showing saved nothing.
    const std::optional<Module1::Task> &savedTask() const { return m_saved; }

    QLabel *Label1 = nullptr;
    QLineEdit *txtTitle = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtFor = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtDay = nullptr;
    QComboBox *lstMonth = nullptr;
    QLineEdit *txtYear = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *txtHour = nullptr;
    QLineEdit *txtMinute = nullptr;
    QLineEdit *txtSecond = nullptr;
    std::array<QLabel *, 2> Label7{};
    QLabel *Label4 = nullptr;
    dialogsupport::LimitedTextEdit *txtDescript = nullptr;
    QPushButton *Command2 = nullptr;  // "&Cancel"
    QPushButton *Command1 = nullptr;  // "&Ok"

    // Line breaks as the record keeps them (CR LF) and as the box shows them.
    static QString descriptionFromBox(const QString &boxText);
    static QString descriptionToBox(const QString &stored);

public slots:
    // Esc and the close box end up here too: all three act as "&Cancel".
    void reject() override;

protected:
    void setVisible(bool visible) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Module1::Task *current();
    void connectBoxes();
    void connectTextBox(QLineEdit *box, QString Module1::Task::*field);
    void connectNumberBox(QLineEdit *box, qint16 Module1::Task::*field);
    void okClicked();
    // After a save refused because the file changed outside: reads it again
    // and puts the typed task into it, on the same task when that is still
    // there as the editor found it, else as a new task. False when the
    // editor stays open (it said why).
    bool moveEditToListReadAgain();
    void finishOk();

    std::function<void()> m_onSaved;
    bool m_filling = false;  // prepare is filling the boxes from the record
    // The record as prepare found it and the count before a new task
    // raised it, put back when a cancel cannot read the file, so abandoned
    // edits are never saved later by another command.
    // It is also what identifies the edited task in a list read again.
    struct Snapshot {
        int slot = 0;
        Module1::Task task;
        qint16 count = 0;
        bool newTask = false;
    };
    std::optional<Snapshot> m_before;
    bool m_readAgain = false;
    std::optional<Module1::Task> m_saved;
};
