#pragma once

#include <QColor>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class QObject;
class QWidget;

// Every question and notice put to the user: a modal alert with one "OK" button, a
// modal alert with up to three titled buttons whose choice comes back as a small
// integer, the same with a one-line text field, and the pair of calls that attach a
// prepared panel to a window as a window-modal sheet and take it away again.
//
// A dialog may carry a "do not show this again" check box. Its state is a boolean in
// the shared preferences (organisation and application "Brisko", native format) under
// the caller's own key, unchanged; once true the dialog is not shown again and the
// call returns at once. Nothing here ever clears such a key.
//
// Everything runs on the interface thread; the dialogs block it in a modal loop until
// the user answers. Nothing keeps state between calls.
namespace RidorIvuvud {

// Results of the button dialogs (and the "RESULT" of the writable dialog).
inline constexpr int FirstButton = 1;
inline constexpr int SecondButton = 2;
inline constexpr int ThirdButton = 3;
inline constexpr int Suppressed = -1;
inline constexpr int UnknownButton = -999;

// The not-found location of a selection range: selects nothing.
inline constexpr qint64 NotFound = 2147483647;

struct TextRange
{
    qint64 location = NotFound;
    qint64 length = 0;

    bool operator==(const TextRange &) const = default;
};

struct WritableDialogResult
{
    QString text;              // the field's final text, always present
    std::optional<int> result; // 1, 2 or 3; none when the dialog ended otherwise

    // {"TEXT": text} plus {"RESULT": result} when there is one.
    QVariantMap toVariantMap() const;
};

// A notice with one button, titled with the localised "OK" (looked up on every call).
// With a suppression key whose preference is already true nothing is shown. With
// `localize` the heading and sub-heading are taken as localisation keys. With a
// suppression key the box is shown, ticked beforehand when suppressionKeyDefault is
// set; a tick when the dialog closes stores true under the key.
void showSimpleDialog(const QString &heading, const std::optional<QString> &subHeading = std::nullopt,
                      const std::optional<QString> &suppressionKey = std::nullopt, bool localize = false,
                      bool suppressionKeyDefault = false);

// A question with up to three buttons (button1 is the default one). Returns 1, 2 or 3
// for the button pressed, -1 without showing anything when the suppression key's
// preference is already true, -999 when the dialog ended any other way (logged as
// "RidorIvuvud.showDialog Unknown button"). With `localize` every text is taken as a
// localisation key; a missing title stays missing. button4 is accepted for callers that
// pass one but never shown: a dialog has at most three buttons.
int showDialog(const QString &heading, const std::optional<QString> &subHeading, const QString &button1,
               const std::optional<QString> &button2 = std::nullopt,
               const std::optional<QString> &button3 = std::nullopt,
               const std::optional<QString> &button4 = std::nullopt,
               const std::optional<QString> &suppressionKey = std::nullopt, bool localize = false);

// A question with a one-line text field holding startText; the field has the focus
// when the dialog opens, with selectRange selected (a location of NotFound selects
// nothing). No translation, no suppression.
WritableDialogResult showWritableDialog(const QString &heading, const std::optional<QString> &subHeading,
                                        const QString &button1, const std::optional<QString> &button2,
                                        const std::optional<QString> &button3, const QString &startText,
                                        TextRange selectRange = {});

// Shows the panel as a window-modal sheet of the window and returns at once. A missing
// panel or window is logged ("RidorIvuvud.startASheet - Panel is nil" / "... - Window
// is nil") and nothing is shown. The delegate is accepted for callers that name one;
// no callback reaches it when the sheet ends.
void startASheet(QWidget *panel, QWidget *window, QObject *delegate = nullptr);

// Ends the sheet and closes the panel (a panel that deletes itself on close is gone).
void stopASheet(QWidget *panel);

// ---- Colour text ----
//
// Parsed colours are shared, immutable sRGB colours. Hex colours (and keywords, which
// become hex) and the rgb()/rgba() forms are kept in one process-wide cache that only
// grows: the same text gives the very same object on every later call, from any thread.
using SharedColor = std::shared_ptr<const QColor>;

// The colour of any HTML/CSS colour text: "rgba(r, g, b, a)", "rgb(r, g, b)", "#rgb",
// "#rrggbb", "rrggbb", a colour keyword (FennimarColors::namedColors, any case) or
// "transparent". No text gives opaque black, the empty text no colour (null). A hex text
// shorter than "#rrggbb" is invalid: logged ("RidorIvuvud.NSColorForHTML - Invalid HTML
// color", then "HTMLCode:<text>") and opaque black. Hex digits are read up to the first
// character that is not one; characters after the sixth digit are ignored.
SharedColor NSColorForHTML(const std::optional<QString> &html);
// "rgba(r, g, b, a)": r, g and b from 0 to 255, a from 0 to 1 (1 when missing). Spaces are
// ignored; with fewer than three numbers opaque black. Values beyond the range are
// clamped, text that is not a number counts as 0. Never null and never cached.
SharedColor NSColorForRGBAHTML(const QString &html);
// "rgb(r, g, b)": as NSColorForRGBAHTML, always opaque.
SharedColor NSColorForRGBHTML(const QString &html);
// The HTML text (FennimarColors::htmlColorForColor) of a colour control's "color"
// property, or its "currentColor" (QColorDialog). Empty for a null control or one that
// has neither.
QString htmlColorFor(const QObject *colorControl);

} // namespace RidorIvuvud
