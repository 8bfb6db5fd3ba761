#pragma once

#include "store/taskfile.h"
#include "store/taskids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

class QDialog;
class QInputMethodEvent;
class QKeyEvent;
class QMimeData;
class QWidget;

// What the two editors share: the fixed dialog frame, the controls built
// from their designs, placement, the file calls with their error box and
// caption fitting.
namespace dialogsupport {

// The most characters a box takes from the keyboard, a paste or a drop:
// a line edit's own default. Laying out a longer line (a 4 MB paste) takes
// seconds, and a caret blinking in it keeps a core busy.
inline constexpr int kLongestText = 32767;

// Room for `text` in a box limited to kLongestText, or longer when the
// record already holds more (from the file): a box never cuts what it is
// given to show.
int roomFor(const QString &text);

// A multi-line box that takes at most maxLength() characters, as a line
// edit does: a paste or a drop is cut to the room left, a key that would go
// beyond is refused. One paragraph of unbroken text costs the layout time
// that grows with the square of its length (a 1 MB one takes minutes).
class LimitedTextEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

    int maxLength() const { return m_maxLength; }
    void setMaxLength(int length) { m_maxLength = length; }
    // Characters in the box, a line break counted as one.
    int length() const;

protected:
    void insertFromMimeData(const QMimeData *source) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    // How many more characters fit, the selection replaced.
    int room() const;

    int m_maxLength = kLongestText;
};

// How one control looks as designed: object name, caption (untranslated,
// nullptr for none), twips inside its container, the design's tab index
// and the horizontal alignment of its text.
struct Look {
    const char *name;
    const char *caption;
    double left, top, width, height;
    int tab;
    Qt::Alignment align = Qt::AlignLeft;
};

// Element `index` of a control array member, such as the task editor's Label7.
template <class Form> struct LabelArrayElement {
    std::array<QLabel *, 2> Form::*array;
    std::size_t index;
};

// One control of a dialog: the member that keeps it, which also decides its
// kind, its look, and the frame it lies in (nullptr: the dialog itself).
template <class Form> struct ControlDesign {
    std::variant<QLabel * Form::*, QLineEdit * Form::*, QComboBox * Form::*,
                 LimitedTextEdit * Form::*, QPushButton * Form::*, QCheckBox * Form::*,
                 QFrame * Form::*, QGroupBox * Form::*, LabelArrayElement<Form>>
        member;
    Look look;
    QGroupBox *Form::*in = nullptr;
};

// Names, captions (translated in `context`), aligns and places a new control.
void applyLook(QWidget *control, const Look &look, const char *context);

// Chains the tab order by tab index, leaving out controls that take no
// focus; returns the controls that show a caption.
QList<QWidget *> arrangeControls(QList<std::pair<int, QWidget *>> controls);

template <class Form, class W> W *&controlSlot(Form &form, W *Form::*member)
{
    return form.*member;
}

template <class Form> QLabel *&controlSlot(Form &form, LabelArrayElement<Form> element)
{
    return (form.*element.array)[element.index];
}

// Creates the controls in table order (later ones lie in front) into their
// members; returns those that show a caption, for fitCaptions.
template <class Form, std::size_t N>
QList<QWidget *> buildControls(Form &form, const ControlDesign<Form> (&designs)[N])
{
    QList<std::pair<int, QWidget *>> built;
    for (const ControlDesign<Form> &d : designs) {
        QWidget *parent = d.in ? static_cast<QWidget *>(form.*d.in) : &form;
        QWidget *control = std::visit(
            [&](auto member) -> QWidget * {
                auto *&slot = controlSlot(form, member);
                slot = new std::remove_reference_t<decltype(*slot)>(parent);
                return slot;
            },
            d.member);
        applyLook(control, d.look, Form::staticMetaObject.className());
        built.append({d.look.tab, control});
    }
    return arrangeControls(std::move(built));
}

// The dialog's buttons answer their access keys (Alt+O, Alt+C, ...) with a
// click at once; Qt would animate the press and click 100 ms later. Call
// once the buttons exist.
void clickAtOnceOnAccessKeys(QDialog *dialog);

// Title bar with a close box only, client area fixed at the given twips.
void makeFixedDialog(QDialog *dialog, double widthTwips, double heightTwips);

// Top-left corner that centres a window of `size` over `over`, kept inside
// `screen`.
QPoint centredPosition(const QSize &size, const QRect &over, const QRect &screen);

// What each showing of a hidden dialog starts with: centred over its
// parent's window (or its screen), the focus on its first control.
void beforeShowing(QDialog *dialog, QWidget *first);

// One caption and the width (in pixels) it has to fit in.
struct Caption {
    QString text;  // '&' access-key markers are not drawn and not counted
    double width = 0;
};

// Width of a caption as drawn in `font`, access-key markers removed.
double captionWidth(const QFont &font, const QString &text);

// The largest of the program's 8.25 pt sans font and its smaller or
// condensed variants in which every caption fits. The system font may be
// much wider than the one the layout was drawn for; positions stay as they
// are and the text shrinks a little instead.
QFont fittingFont(const QList<Caption> &captions);

// The caption a label or a button shows; empty for other controls.
QString captionOf(const QWidget *widget);

// Available text width of a label, a push button or a check box as the
// current style draws it.
double textRoom(const QWidget *widget);

// Shrinks the dialog's font until each caption widget's text fits, and
// elides (with the full text as tool tip) whatever still does not.
void fitCaptions(QWidget *dialog, const QList<QWidget *> &captioned,
                 const QList<Caption> &extra = {});

// Writes the task file, with the box on failure.
enum class Saved {
    Yes,
    No,              // nothing written; the tables keep the edits
    ReadAgain,       // the file was changed elsewhere: not written, read again instead
    ChangedOutside,  // as ReadAgain, but neither told nor read: the caller decides
};
// `moves`: the tasks this save edits, whose calendar UIDs go with them.
Saved save(QWidget *parent, bool readAgain = true, const std::vector<Module1::UidMove> &moves = {});
// Reads the task file back, with the box on failure; true when it failed.
bool reloadFailed(QWidget *parent);

// What reloadFailed reads with. Tests put in one that fails, to see what a
// failed read-back after a good save leaves; nullptr: Module1::loadTasks.
using TaskFileReader = Module1::FileStatus (*)(const QString &path);
void setTaskFileReader(TaskFileReader reader);

}  // namespace dialogsupport
