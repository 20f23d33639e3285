#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class GraphicsContext;
class QAction;
class QComboBox;
class QFont;
class QObject;
class QProgressBar;
class QWidget;
class StyledText;

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

// showDialog() with a check box under the text that leaves this question as it is: when it is
// ticked as the dialog closes, true is stored under checkBoxKey (the caller leaves out what the
// box was about next time).
int showDialogWithCheckBox(const QString &heading, const std::optional<QString> &subHeading,
                           const QString &button1, const std::optional<QString> &button2,
                           const std::optional<QString> &button3, const QString &checkBoxText,
                           const QString &checkBoxKey);

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

// ---- Names and files ----

// A leaf name "<number>.<extension>" that is free in the folder, the number drawn from the
// C library's rand(). A basedOn name is not supported: it is only logged.
QString makeRandomLeafname(const QString &folder, const QString &extension,
                           const std::optional<QString> &basedOn = std::nullopt);
// "/tmp/<number>.tmp", free when asked for (nothing is created).
QString makeTempFile();
// The leaf with "-number" after its part before the first dot: a.b.c and 2 give a-2.b.c.
QString createNumberedLeafname(const QString &leaf, int number);
// The leaf ("from-clipboard.png" when none) when the folder (made when missing) has no such
// entry, else the first of leaf-1, leaf-2, ... that is free there.
QString makeRandomLeafnameBasedOn(const std::optional<QString> &leaf, const QString &directory);
// A free "copy" name beside the path. With respectExtension /d/a.txt gives "/d/a copy.txt",
// then "/d/a copy 1.txt", "/d/a copy 2.txt", ...; without, "/d/a.txt copy", then
// "/d/a.txt copy 1", ...
QString findUniqueCopyName(const QString &path, bool respectExtension);
// Every visible entry below the folder as a full path, breadth first: the folder's own
// entries (by name), then those of each subfolder in the order found. Links to folders
// are listed but not entered, so a link loop cannot make the walk endless.
QStringList getRecursiveFileListing(const QString &folder);
// The folder's entries by name; those beginning with "." only when hidden is set;
// "<folder>/<name>" with fullPath. Empty for a folder that cannot be read.
QStringList fileList(const QString &folder, bool hidden, bool fullPath);
// fileList() with every "//" in the entries made "/".
QStringList tidyFileList(const QString &folder, bool hidden, bool fullPath);
// Every item with the text put in front.
QStringList prependStringOntoArrayItems(const QString &string, const QStringList &array);
// Removes, in place, every path whose extension is exactly the given one.
void removePathsFromArray(QStringList &array, const QString &withExtension);
// The path with every occurrence of the old parent text replaced by the new one.
QString switchDirectoryParent(const QString &path, const QString &from, const QString &to);
// Whether both files exist and hold the same bytes.
bool compareFileContents(const QString &path, const QString &with);
// The first file (not folder) below the directory with the same size and bytes as the
// file; none when there is no such file.
std::optional<QString> checkForIdenticalFile(const QString &file, const QString &inDirectory);
// Copies the folder tree below `from` to `to`: each listed item's target is its path with
// `from` replaced by `to`; folders are made when missing, files replace their target
// atomically (the old target stays whole when a copy fails). A failed copy makes the
// result false but the walk goes on. The progress bar (may be null) counts the items,
// from 0 to count - 1. The manipulation type is not consulted: the operation always copies.
// Without a listing the tree is listed with getRecursiveFileListing().
bool fileSystemManipulateWithFeedbackFrom(const QString &from, const QString &to, int manipulateType,
                                          QProgressBar *progressWidget,
                                          const std::optional<QStringList> &fileListing = std::nullopt);
// The resource "supplied.js"; none when it is not there.
std::optional<QString> pathForSuppliedJavaScript();
// "<home>/Sites".
QString getSitesDirectoryForCurrentUser();
// The system web server's document folder, "/var/www/html/" on this system.
QString getSystemWideWebServerDirectory();

// ---- Menus and controls ----

// Replaces the items of the pop-up with one item per string, in order. A null pop-up is ignored.
void populatePopUpMenu(QComboBox *popUp, const QStringList &withItems);
// The same; with retainCurrent the item titled as the selected one before selects again
// when there is one. A null pop-up is logged ("RidorIvuvud.populatePopUpMenu (with retain)
// - PopUp is NIL").
void populatePopUpMenu(QComboBox *popUp, const QStringList &withItems, bool retainCurrent);
// Replaces the items of the combo box with one per value (its text, the value as data).
void populateComboBoxMenu(QComboBox *comboBox, const QVariantList &withItems);
// A toolbar action: object name identifier, text and icon text label, the image as icon;
// triggering it invokes the target's slot or invokable method named `action` (no
// arguments). Parented to `parent` when one is given, else owned by the caller.
QAction *newToolbarItem(const QString &identifier, const QString &label, const QImage &image,
                        const char *action, QObject *target, QObject *parent = nullptr);
// The same with the image FennimarImaging::imageNamed(imageName).
QAction *newToolbarItem(const QString &identifier, const QString &label, const QString &imageName,
                        const char *action, QObject *target, QObject *parent = nullptr);
// Enables or disables the widget unless it is in the exclusion list; with recursive, its
// child widgets too, depth first (the list applies at every level).
void setControlEnabled(QWidget *control, bool state, bool recursive,
                       const QList<QWidget *> &exclusionList = {});

// ---- Conversions ----

// True for exactly "1", "true" and "TRUE".
bool NSStringToBOOL(const QString &string);
// "1" or "0".
QString BOOLToNSString(bool value);
QString intToString(int value);
// The text n times; empty for n of 0 or less.
QString repeatString(const QString &string, int times);
// The three parts in order; numbers become their decimal text, a null third part is left out.
QString concat(const QVariant &first, const QVariant &and_, const QVariant &also = QVariant());
// The styled pieces between the separators, with their attributes. Empty pieces between two
// separators stay; a trailing empty piece does not.
QList<StyledText> attributedComponentsSeparatedByString(const QString &separator, const StyledText &text);
bool fontIsItalic(const QFont &font);
bool fontIsBold(const QFont &font);
// Lighter than the regular weight.
bool fontIsLight(const QFont &font);
// "512b" below 1024 bytes, whole kibibytes "1k" below 1048576, else mebibytes rounded up to
// two decimals "1.5MB"; none for a negative size.
std::optional<QString> prettySize(qint64 size);
// The event attributes an HTML element may carry: "onSubmit", "onSelect", ... "onMouseUp".
QStringList supportedEvents_ElementCell();

// ---- Images and drawing ----
//
// An image's size here is the size it is drawn at, QImage::deviceIndependentSize(): its
// pixels divided by its device pixel ratio. Drawing methods draw through a GraphicsContext,
// with y growing upward.

// Sets the size the image is drawn at so that its shorter side is the size and the longer
// keeps the proportion (200 × 100 with 50: 100 × 50); the pixels are kept, only the device
// pixel ratio changes. With clone a copy is sized and the image is left as it is. Returns
// the sized image. A null image or a size of 0 or less is returned unchanged.
QImage proportionalImageScale(QImage &image, double toSize, bool clone);
// A new transparent image of the size (FennimarImaging::imageWithSize) holding the image
// scaled to fit (aspect kept) and centred, drawn without smoothing. The image itself is
// left as it is.
QImage scaleImage(const QImage &image, double width, double height);
// Makes the image's size its pixel size again (device pixel ratio 1).
void imageFixSize(QImage &image);
// The view as it appears, in an ARGB32 premultiplied image as wide and high as the view
// whose rows take the width × 4 bytes rounded up to a multiple of 16. A null image for no
// view or an empty one (logged).
QImage createCoreImage(QWidget *view);

// In the current colours: the triangle (0, 0), (length, 0), (length / 2, -length), turned
// counter-clockwise by the degrees and moved to (x, y), stroked and filled.
void drawArrowAtx(GraphicsContext &context, double x, double y, double length, double rotate);
// In the colour: a ring (line width 3) in the 8-point square whose corner lies 5 left of and
// 5 below the start, a line of width 2 from the start to the end (both one point lower), and
// the same ring around the lowered end.
void drawLinkLineFrom(GraphicsContext &context, QPointF from, QPointF to, const QColor &inColor);
// The band-by-band fade, FennimarGraphics::drawFadeOLD.
void drawFade(GraphicsContext &context, const QRectF &rect, const QColor &startColor, const QColor &endColor,
              bool cellBorder);

// Tile repeat modes.
inline constexpr int TileOnce = 0;
inline constexpr int TileRow = 1;
inline constexpr int TileColumn = 2;
inline constexpr int TileAll = 3;
// Tiles the rectangle, raised by the y offset and clipped to it, with the image at its size
// and the opacity (delta, 0 to 1), from its lower-left corner right and up. With tweak the
// tiles overlap by half a point and take their pixels from half a point lower. Repeat:
// 0 one tile, 1 the first row, 2 one tile per row, anything else the whole rectangle.
// Returns the number of tiles drawn; at most MaxTiles (the rest is logged and left out).
inline constexpr int MaxTiles = 1 << 20;
int tileImage(GraphicsContext &context, const QImage &image, const QRectF &intoRect, int repeat,
              double yoffset, double delta, bool tweak);

// Prints the view to a PDF file: pages as wide as the view is scaled to fit, as many pages
// down as it takes, each from the top of the page. With the panel the print dialog is shown
// first (cancelling it prints nothing); the path, when given, is filled in. The file is
// written beside the target and moved over it only once complete. False, logged, for no
// view, no path (without the panel), a cancelled dialog or a file that could not be written.
bool printView(QWidget *view, bool showPanel, const std::optional<QString> &toPath);

} // namespace RidorIvuvud
