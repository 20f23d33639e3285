#include "RidorIvuvud.h"

#include "FennimarArrays.h"
#include "FennimarColors.h"
#include "FennimarGraphics.h"
#include "FennimarImaging.h"
#include "FennimarUserDefaults.h"
#include "GraphicsContext.h"

#include "Bundle.h"
#include "Localization.h"
#include "StyledText.h"
#include "foundationguilogging.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>

using namespace Qt::StringLiterals;

namespace RidorIvuvud {

namespace {

// The suppression keys live in the program's shared preferences, the same store the
// rest of the program reads and writes through its preferences helpers.
bool isSuppressed(const QString &key)
{
    return FennimarUserDefaults::objectForKey(key, false).toBool();
}

void storeSuppressed(const QString &key)
{
    FennimarUserDefaults::setObject(true, key);
}

std::optional<QString> text(const std::optional<QString> &value, bool localize)
{
    return localize ? brisko::localizedString(value) : value;
}

QString text(const QString &value, bool localize)
{
    return localize ? brisko::localizedString(value).value_or(QString()) : value;
}

// A button titled "Cancel" (or its translation) answers the Escape key, as people
// expect of such a button; every other button needs a click or its shortcut.
bool isCancelTitle(const QString &title)
{
    return title.compare("Cancel"_L1, Qt::CaseInsensitive) == 0 ||
           title == brisko::localizedString(u"Cancel"_s).value_or(QString());
}

void logUnknownButton()
{
    qCWarning(lcFoundationGui).noquote() << "RidorIvuvud.showDialog Unknown button";
}

// The alert shared by the simple and the button dialogs: plain texts, the buttons in
// the order given (the first one is the default), an optional suppression box. Like
// the writable dialog it is centred on the window in use, if any, and application modal.
class Alert
{
public:
    Alert(const QString &heading, const std::optional<QString> &subHeading)
        : m_box(QApplication::activeWindow())
    {
        m_box.setIcon(QMessageBox::NoIcon);
        m_box.setTextFormat(Qt::PlainText);
        m_box.setText(heading);
        if (subHeading)
            m_box.setInformativeText(*subHeading);
    }

    // code: what run() answers when this button is pressed.
    void addButton(const QString &title, int code)
    {
        QPushButton *button =
            m_box.addButton(title, m_buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
        if (m_buttons.isEmpty())
            m_box.setDefaultButton(button);
        else if (!m_box.escapeButton() && isCancelTitle(title))
            m_box.setEscapeButton(button);
        m_buttons.insert(button, code);
    }

    // The first button, then the second and third when given; each answers its own code
    // (a third without a second still answers ThirdButton).
    void addButtons(const QString &title1, const std::optional<QString> &title2,
                    const std::optional<QString> &title3)
    {
        addButton(title1, FirstButton);
        if (title2)
            addButton(*title2, SecondButton);
        if (title3)
            addButton(*title3, ThirdButton);
    }

    void addCheckBox(const QString &text)
    {
        m_box.setCheckBox(new QCheckBox(text));
    }

    void addSuppressionBox(bool ticked)
    {
        auto *box =
            new QCheckBox(QCoreApplication::translate("RidorIvuvud", "Do not show this message again"));
        box->setChecked(ticked);
        m_box.setCheckBox(box);
    }

    // Runs the modal loop; the code of the button pressed, 0 for any other ending.
    int run()
    {
        m_box.exec();
        return m_buttons.value(m_box.clickedButton(), 0);
    }

    bool suppressionTicked() const { return m_box.checkBox() && m_box.checkBox()->isChecked(); }

private:
    QMessageBox m_box;
    QHash<QAbstractButton *, int> m_buttons;
};

class WritableDialog : public QDialog
{
public:
    // titles: the buttons in order with the codes they answer.
    WritableDialog(const QString &heading, const std::optional<QString> &subHeading,
                   const QList<std::pair<QString, int>> &titles, const QString &startText,
                   TextRange selectRange)
        : QDialog(QApplication::activeWindow()), m_range(selectRange)
    {
        auto *layout = new QVBoxLayout(this);

        auto *headingLabel = new QLabel(heading, this);
        headingLabel->setTextFormat(Qt::PlainText);
        headingLabel->setWordWrap(true);
        QFont bold = headingLabel->font();
        bold.setBold(true);
        headingLabel->setFont(bold);
        layout->addWidget(headingLabel);

        if (subHeading) {
            auto *subHeadingLabel = new QLabel(*subHeading, this);
            subHeadingLabel->setTextFormat(Qt::PlainText);
            subHeadingLabel->setWordWrap(true);
            layout->addWidget(subHeadingLabel);
        }

        m_field = new QLineEdit(startText, this);
        m_field->setMinimumWidth(200);
        layout->addWidget(m_field);

        auto *buttons = new QDialogButtonBox(this);
        for (const auto &[title, code] : titles) {
            const bool first = buttons->buttons().isEmpty();
            QPushButton *button = buttons->addButton(title, first ? QDialogButtonBox::AcceptRole
                                                                  : QDialogButtonBox::ActionRole);
            if (first)
                button->setDefault(true);
            else if (!m_escapeButton && isCancelTitle(title))
                m_escapeButton = button;
            connect(button, &QPushButton::clicked, this, [this, code] {
                m_pressed = code;
                accept();
            });
        }
        layout->addWidget(buttons);

        // The field is what the user came to edit: it holds the focus and the requested
        // selection the moment the dialog appears.
        m_field->setFocus(Qt::OtherFocusReason);
        select();
    }

    void setVisible(bool visible) override
    {
        QDialog::setVisible(visible);
        // Showing hands the field a tab-like focus event, which selects the whole text
        // when nothing is selected: put the requested selection back.
        if (visible)
            select();
    }

    QString text() const { return m_field->text(); }
    int pressed() const { return m_pressed; }

    void reject() override
    {
        if (m_escapeButton)
            m_escapeButton->click();
        else
            QDialog::reject();
    }

private:
    void select()
    {
        const TextRange range = m_range;
        const qint64 size = m_field->text().size();
        if (range.location == NotFound || range.location < 0 || range.location > size) {
            m_field->deselect();
            return;
        }
        const qint64 length = std::clamp<qint64>(range.length, 0, size - range.location);
        m_field->setSelection(int(range.location), int(length));
    }

    TextRange m_range;
    QLineEdit *m_field = nullptr;
    QPushButton *m_escapeButton = nullptr;
    int m_pressed = 0;
};

} // namespace

QVariantMap WritableDialogResult::toVariantMap() const
{
    QVariantMap map{{u"TEXT"_s, text}};
    if (result)
        map.insert(u"RESULT"_s, *result);
    return map;
}

void showSimpleDialog(const QString &heading, const std::optional<QString> &subHeading,
                      const std::optional<QString> &suppressionKey, bool localize, bool suppressionKeyDefault)
{
    if (suppressionKey && isSuppressed(*suppressionKey))
        return;

    Alert alert(text(heading, localize), text(subHeading, localize));
    alert.addButton(brisko::localizedString(u"OK"_s).value_or(QString()), FirstButton);
    if (suppressionKey)
        alert.addSuppressionBox(suppressionKeyDefault);
    alert.run();

    if (suppressionKey && alert.suppressionTicked())
        storeSuppressed(*suppressionKey);
}

int showDialog(const QString &heading, const std::optional<QString> &subHeading, const QString &button1,
               const std::optional<QString> &button2, const std::optional<QString> &button3,
               const std::optional<QString> &button4, const std::optional<QString> &suppressionKey,
               bool localize)
{
    Q_UNUSED(button4) // at most three buttons are ever shown

    const QString shownHeading = text(heading, localize);
    const std::optional<QString> shownSubHeading = text(subHeading, localize);
    const QString title1 = text(button1, localize);
    const std::optional<QString> title2 = text(button2, localize);
    const std::optional<QString> title3 = text(button3, localize);

    if (suppressionKey && isSuppressed(*suppressionKey))
        return Suppressed;

    Alert alert(shownHeading, shownSubHeading);
    // Each code names its argument: button3 answers 3 even when there is no button2.
    alert.addButtons(title1, title2, title3);
    if (suppressionKey)
        alert.addSuppressionBox(false);

    int code = alert.run();
    if (code == 0) {
        logUnknownButton();
        code = UnknownButton;
    }

    if (suppressionKey && alert.suppressionTicked())
        storeSuppressed(*suppressionKey);
    return code;
}

int showDialogWithCheckBox(const QString &heading, const std::optional<QString> &subHeading,
                           const QString &button1, const std::optional<QString> &button2,
                           const std::optional<QString> &button3, const QString &checkBoxText,
                           const QString &checkBoxKey)
{
    Alert alert(heading, subHeading);
    alert.addButtons(button1, button2, button3);
    alert.addCheckBox(checkBoxText);
    int code = alert.run();
    if (code == 0) {
        logUnknownButton();
        code = UnknownButton;
    }
    if (alert.suppressionTicked())
        storeSuppressed(checkBoxKey);
    return code;
}

WritableDialogResult showWritableDialog(const QString &heading, const std::optional<QString> &subHeading,
                                        const QString &button1, const std::optional<QString> &button2,
                                        const std::optional<QString> &button3, const QString &startText,
                                        TextRange selectRange)
{
    QList<std::pair<QString, int>> titles{{button1, FirstButton}};
    if (button2)
        titles.append({*button2, SecondButton});
    if (button3)
        titles.append({*button3, ThirdButton});

    WritableDialog dialog(heading, subHeading, titles, startText, selectRange);
    dialog.exec();

    WritableDialogResult result;
    result.text = dialog.text();
    if (dialog.pressed() != 0)
        result.result = dialog.pressed();
    else
        logUnknownButton();
    return result;
}

void startASheet(QWidget *panel, QWidget *window, QObject *delegate)
{
    Q_UNUSED(delegate) // no callback reaches it when the sheet ends
    if (!panel)
        qCWarning(lcFoundationGui).noquote() << "RidorIvuvud.startASheet - Panel is nil";
    if (!window)
        qCWarning(lcFoundationGui).noquote() << "RidorIvuvud.startASheet - Window is nil";
    if (!panel || !window)
        return;

    // Modality only takes effect on a hidden window, and reparenting hides it anyway.
    Qt::WindowFlags flags = panel->windowFlags();
    if (panel->windowType() == Qt::Widget || panel->windowType() == Qt::Window)
        flags = (flags & ~Qt::WindowType_Mask) | Qt::Dialog;
    panel->hide();
    panel->setParent(window, flags);
    panel->setWindowModality(Qt::WindowModal);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void stopASheet(QWidget *panel)
{
    if (!panel)
        return;
    panel->close();
}

// ---- Colour text ----

namespace {

struct ColorCache
{
    QMutex mutex;
    QHash<QString, SharedColor> colors;
};

ColorCache &colorCache()
{
    static ColorCache cache;
    return cache;
}

SharedColor cachedColor(const QString &key)
{
    ColorCache &cache = colorCache();
    QMutexLocker lock(&cache.mutex);
    return cache.colors.value(key);
}

// Keeps the first colour stored under a key, so racing callers still share one object.
SharedColor cacheColor(const QString &key, SharedColor color)
{
    ColorCache &cache = colorCache();
    QMutexLocker lock(&cache.mutex);
    auto it = cache.colors.constFind(key);
    if (it != cache.colors.constEnd())
        return *it;
    cache.colors.insert(key, color);
    return color;
}

SharedColor opaqueBlack()
{
    return std::make_shared<const QColor>(QColor::fromRgbF(0, 0, 0, 1));
}

// The number at the start of the text ("12px" is 12), 0 when there is none.
double leadingNumber(QStringView text)
{
    qsizetype end = 0;
    if (end < text.size() && (text[end] == u'+' || text[end] == u'-'))
        ++end;
    bool digits = false;
    while (end < text.size() && text[end].isDigit()) {
        ++end;
        digits = true;
    }
    if (end < text.size() && text[end] == u'.') {
        ++end;
        while (end < text.size() && text[end].isDigit()) {
            ++end;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    bool ok = false;
    const double value = text.first(end).toDouble(&ok);
    return ok ? value : 0;
}

float unit(double value)
{
    return float(std::clamp(value, 0.0, 1.0));
}

SharedColor colorFromFunction(QString text, QLatin1StringView opening, bool withAlpha)
{
    text.remove(opening).remove(u')').remove(u' ');
    const QStringList parts = text.split(u',');
    if (parts.size() < 3)
        return opaqueBlack();
    const double alpha = withAlpha && parts.size() > 3 ? leadingNumber(parts.at(3)) : 1.0;
    return std::make_shared<const QColor>(
        QColor::fromRgbF(unit(leadingNumber(parts.at(0)) / 255), unit(leadingNumber(parts.at(1)) / 255),
                         unit(leadingNumber(parts.at(2)) / 255), unit(alpha)));
}

} // namespace

SharedColor NSColorForRGBAHTML(const QString &html)
{
    return colorFromFunction(html, "rgba("_L1, true);
}

SharedColor NSColorForRGBHTML(const QString &html)
{
    return colorFromFunction(html, "rgb("_L1, false);
}

SharedColor NSColorForHTML(const std::optional<QString> &html)
{
    if (!html)
        return opaqueBlack();
    if (SharedColor known = cachedColor(*html))
        return known;
    if (html->startsWith("rgba"_L1))
        return cacheColor(*html, NSColorForRGBAHTML(*html));
    if (html->startsWith("rgb"_L1))
        return cacheColor(*html, NSColorForRGBHTML(*html));

    QString text = FennimarColors::hexColorForHTMLNamedColor(*html).value_or(*html);
    if (text == "transparent"_L1)
        return std::make_shared<const QColor>(QColor::fromRgbF(0, 0, 0, 0));
    if (text.isEmpty())
        return nullptr;
    if (!text.startsWith(u'#'))
        text.prepend(u'#');
    if (text.size() == 4)
        text = QStringLiteral("#%1%1%2%2%3%3").arg(text[1]).arg(text[2]).arg(text[3]);
    if (text.size() < 7) {
        qCWarning(lcFoundationGui).noquote() << "RidorIvuvud.NSColorForHTML - Invalid HTML color";
        qCWarning(lcFoundationGui).noquote() << u"HTMLCode:%1"_s.arg(*html);
        return opaqueBlack();
    }
    const QString key = text.first(7);
    if (SharedColor known = cachedColor(key))
        return known;
    uint value = 0;
    for (QChar c : QStringView(key).sliced(1)) {
        const char16_t u = c.unicode();
        const int digit = u >= u'0' && u <= u'9'   ? u - u'0'
                          : u >= u'a' && u <= u'f' ? u - u'a' + 10
                          : u >= u'A' && u <= u'F' ? u - u'A' + 10
                                                   : -1;
        if (digit < 0)
            break;
        value = value * 16 + uint(digit);
    }
    auto color = std::make_shared<const QColor>(
        QColor::fromRgb(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF)));
    return cacheColor(key, std::move(color));
}

QString htmlColorFor(const QObject *colorControl)
{
    if (!colorControl)
        return QString();
    for (const char *property : {"color", "currentColor"}) {
        const QVariant value = colorControl->property(property);
        if (value.canConvert<QColor>() && value.value<QColor>().isValid())
            return FennimarColors::htmlColorForColor(value.value<QColor>());
    }
    return QString();
}

// ---- Names and files ----

QString makeRandomLeafname(const QString &folder, const QString &extension,
                           const std::optional<QString> &basedOn)
{
    if (basedOn)
        qCInfo(lcFoundationGui).noquote()
            << "RidorIvuvud makeRandomLeafname - baseon has been suggested, but is not supported yet";
    for (;;) {
        const QString leaf = u"%1.%2"_s.arg(std::rand()).arg(extension);
        if (!QFileInfo::exists(u"%1/%2"_s.arg(folder, leaf)))
            return leaf;
    }
}

QString makeTempFile()
{
    return u"/tmp/%1"_s.arg(makeRandomLeafname(u"/tmp"_s, u"tmp"_s));
}

QString createNumberedLeafname(const QString &leaf, int number)
{
    const qsizetype dot = leaf.indexOf(u'.');
    const QString stem = dot < 0 ? leaf : leaf.first(dot);
    const QString rest = dot < 0 ? QString() : leaf.sliced(dot);
    return u"%1-%2"_s.arg(stem).arg(number) + rest;
}

QString makeRandomLeafnameBasedOn(const std::optional<QString> &leaf, const QString &directory)
{
    QDir().mkpath(directory);
    const QString base = leaf.value_or(u"from-clipboard.png"_s);
    if (!QFileInfo::exists(u"%1/%2"_s.arg(directory, base)))
        return base;
    for (int n = 1;; ++n) {
        const QString candidate = createNumberedLeafname(base, n);
        if (!QFileInfo::exists(u"%1/%2"_s.arg(directory, candidate)))
            return candidate;
    }
}

QString findUniqueCopyName(const QString &path, bool respectExtension)
{
    if (!respectExtension) {
        const QString candidate = path + u" copy"_s;
        if (!QFileInfo::exists(candidate))
            return candidate;
        for (int n = 1;; ++n) {
            const QString numbered = u"%1 %2"_s.arg(candidate).arg(n);
            if (!QFileInfo::exists(numbered))
                return numbered;
        }
    }
    // The extension is what follows the last dot of the last path component.
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    const bool hasExtension = dot > slash + 1 && dot < path.size() - 1;
    const QString stem = hasExtension ? path.first(dot) : path;
    const QString extension = hasExtension ? path.sliced(dot) : QString();
    const QString candidate = stem + u" copy"_s + extension;
    if (!QFileInfo::exists(candidate))
        return candidate;
    for (int n = 1;; ++n) {
        const QString numbered = u"%1 copy %2%3"_s.arg(stem).arg(n).arg(extension);
        if (!QFileInfo::exists(numbered))
            return numbered;
    }
}

QStringList fileList(const QString &folder, bool hidden, bool fullPath)
{
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
    if (hidden)
        filters |= QDir::Hidden;
    const QStringList names = QDir(folder).entryList(filters, QDir::Name);
    if (!fullPath)
        return names;
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(u"%1/%2"_s.arg(folder, name));
    return paths;
}

QStringList tidyFileList(const QString &folder, bool hidden, bool fullPath)
{
    QStringList list = fileList(folder, hidden, fullPath);
    for (QString &entry : list) {
        while (entry.contains("//"_L1))
            entry.replace("//"_L1, "/"_L1);
    }
    return list;
}

QStringList getRecursiveFileListing(const QString &folder)
{
    QStringList listing;
    std::deque<QString> folders{folder};
    while (!folders.empty()) {
        const QString current = folders.front();
        folders.pop_front();
        for (const QString &path : fileList(current, false, true)) {
            listing.append(path);
            const QFileInfo info(path);
            if (info.isDir() && !info.isSymLink())
                folders.push_back(path);
        }
    }
    return listing;
}

QStringList prependStringOntoArrayItems(const QString &string, const QStringList &array)
{
    return FennimarArrays::prependStringOntoArrayItems(string, array);
}

void removePathsFromArray(QStringList &array, const QString &withExtension)
{
    array.removeIf([&](const QString &path) {
        const qsizetype slash = path.lastIndexOf(u'/');
        const qsizetype dot = path.lastIndexOf(u'.');
        return dot > slash + 1 && QStringView(path).sliced(dot + 1) == withExtension;
    });
}

QString switchDirectoryParent(const QString &path, const QString &from, const QString &to)
{
    QString switched = path;
    if (!from.isEmpty())
        switched.replace(from, to);
    return switched;
}

bool compareFileContents(const QString &path, const QString &with)
{
    QFile a(path);
    QFile b(with);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 Chunk = 64 * 1024;
    for (;;) {
        const QByteArray x = a.read(Chunk);
        const QByteArray y = b.read(Chunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            return a.atEnd() && b.atEnd();
    }
}

std::optional<QString> checkForIdenticalFile(const QString &file, const QString &inDirectory)
{
    const QFileInfo source(file);
    if (!source.isFile())
        return std::nullopt;
    for (const QString &path : getRecursiveFileListing(inDirectory)) {
        const QFileInfo candidate(path);
        if (candidate.isFile() && candidate.size() == source.size() && compareFileContents(file, path))
            return path;
    }
    return std::nullopt;
}

namespace {

// Copies through a temporary file renamed over the target once every byte is written.
bool copyFileReplacing(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        qCWarning(lcFoundationGui).noquote()
            << u"RidorIvuvud.fileSystemManipulate - cannot read %1: %2"_s.arg(source, in.errorString());
        return false;
    }
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        qCWarning(lcFoundationGui).noquote()
            << u"RidorIvuvud.fileSystemManipulate - cannot write %1: %2"_s.arg(target, out.errorString());
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1024 * 1024);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            break;
        if (out.write(chunk) != chunk.size())
            break;
    }
    if (in.error() != QFileDevice::NoError || !out.commit()) {
        qCWarning(lcFoundationGui).noquote()
            << u"RidorIvuvud.fileSystemManipulate - copy of %1 to %2 failed: %3"_s.arg(
                   source, target, in.error() != QFileDevice::NoError ? in.errorString() : out.errorString());
        return false;
    }
    QFile::setPermissions(target, QFile::permissions(source));
    return true;
}

} // namespace

bool fileSystemManipulateWithFeedbackFrom(const QString &from, const QString &to, int manipulateType,
                                          QProgressBar *progressWidget,
                                          const std::optional<QStringList> &fileListing)
{
    Q_UNUSED(manipulateType);
    const QStringList listing = fileListing ? *fileListing : getRecursiveFileListing(from);
    if (progressWidget) {
        progressWidget->setMinimum(0);
        progressWidget->setMaximum(int(std::max<qsizetype>(listing.size() - 1, 0)));
    }
    bool allCopied = true;
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QString &item = listing.at(i);
        const QString target = switchDirectoryParent(item, from, to);
        const QFileInfo info(item);
        if (info.isDir()) {
            if (!QDir().mkpath(target)) {
                qCWarning(lcFoundationGui).noquote()
                    << u"RidorIvuvud.fileSystemManipulate - cannot make %1"_s.arg(target);
                allCopied = false;
            }
        } else if (!copyFileReplacing(item, target)) {
            allCopied = false;
        }
        if (progressWidget) {
            progressWidget->setValue(int(i));
            progressWidget->repaint();
        }
    }
    return allCopied;
}

std::optional<QString> pathForSuppliedJavaScript()
{
    const QString path = brisko::Bundle::resourcePath() + u"/supplied.js"_s;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

QString getSitesDirectoryForCurrentUser()
{
    return u"%1/Sites"_s.arg(QDir::homePath());
}

QString getSystemWideWebServerDirectory()
{
    return u"/var/www/html/"_s;
}

// ---- Menus and controls ----

void populatePopUpMenu(QComboBox *popUp, const QStringList &withItems)
{
    if (!popUp)
        return;
    popUp->clear();
    popUp->addItems(withItems);
}

void populatePopUpMenu(QComboBox *popUp, const QStringList &withItems, bool retainCurrent)
{
    if (!popUp) {
        qCWarning(lcFoundationGui).noquote() << "RidorIvuvud.populatePopUpMenu (with retain) - PopUp is NIL";
        return;
    }
    const QString current = popUp->currentText();
    populatePopUpMenu(popUp, withItems);
    if (retainCurrent) {
        if (const int index = popUp->findText(current, Qt::MatchExactly); index >= 0)
            popUp->setCurrentIndex(index);
    }
}

void populateComboBoxMenu(QComboBox *comboBox, const QVariantList &withItems)
{
    if (!comboBox)
        return;
    comboBox->clear();
    for (const QVariant &item : withItems)
        comboBox->addItem(item.toString(), item);
}

QAction *newToolbarItem(const QString &identifier, const QString &label, const QImage &image,
                        const char *action, QObject *target, QObject *parent)
{
    auto *item = new QAction(parent);
    item->setObjectName(identifier);
    item->setText(label);
    item->setIconText(label);
    item->setToolTip(label);
    if (!image.isNull())
        item->setIcon(QIcon(QPixmap::fromImage(image)));
    if (target && action) {
        const QByteArray method(action);
        QObject::connect(item, &QAction::triggered, target, [target, method] {
            if (!QMetaObject::invokeMethod(target, method.constData()))
                qCWarning(lcFoundationGui).noquote()
                    << u"RidorIvuvud.newToolbarItem - no method %1"_s.arg(QString::fromLatin1(method));
        });
    }
    return item;
}

QAction *newToolbarItem(const QString &identifier, const QString &label, const QString &imageName,
                        const char *action, QObject *target, QObject *parent)
{
    return newToolbarItem(identifier, label, FennimarImaging::imageNamed(imageName), action, target, parent);
}

void setControlEnabled(QWidget *control, bool state, bool recursive, const QList<QWidget *> &exclusionList)
{
    if (!control)
        return;
    if (!exclusionList.contains(control))
        control->setEnabled(state);
    if (!recursive)
        return;
    for (QWidget *child : control->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        setControlEnabled(child, state, true, exclusionList);
}

// ---- Conversions ----

bool NSStringToBOOL(const QString &string)
{
    return string == "1"_L1 || string == "true"_L1 || string == "TRUE"_L1;
}

QString BOOLToNSString(bool value)
{
    return value ? u"1"_s : u"0"_s;
}

QString intToString(int value)
{
    return QString::number(value);
}

QString repeatString(const QString &string, int times)
{
    return times > 0 ? string.repeated(times) : QString();
}

QString concat(const QVariant &first, const QVariant &and_, const QVariant &also)
{
    const auto text = [](const QVariant &part) { return part.isNull() ? QString() : part.toString(); };
    return text(first) + text(and_) + text(also);
}

QList<StyledText> attributedComponentsSeparatedByString(const QString &separator, const StyledText &text)
{
    QList<StyledText> pieces;
    if (separator.isEmpty()) {
        if (!text.isEmpty())
            pieces.append(text);
        return pieces;
    }
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = text.text().indexOf(separator, start);
        if (at < 0)
            break;
        pieces.append(text.mid(start, at - start));
        start = at + separator.size();
    }
    if (start < text.length())
        pieces.append(text.mid(start));
    return pieces;
}

bool fontIsItalic(const QFont &font)
{
    return font.italic();
}

bool fontIsBold(const QFont &font)
{
    return font.bold();
}

bool fontIsLight(const QFont &font)
{
    return font.weight() < QFont::Normal;
}

std::optional<QString> prettySize(qint64 size)
{
    if (size < 0)
        return std::nullopt;
    if (size < 1024)
        return u"%1b"_s.arg(size);
    if (size < 1048576)
        return u"%1k"_s.arg(size / 1024);
    const double megabytes = std::ceil(double(size) / 1048576.0 * 100.0 - 1e-9) / 100.0;
    QString number = QLocale::c().toString(megabytes, 'f', 2);
    while (number.endsWith(u'0'))
        number.chop(1);
    if (number.endsWith(u'.'))
        number.chop(1);
    return number + u"MB"_s;
}

QStringList supportedEvents_ElementCell()
{
    return {u"onSubmit"_s,   u"onSelect"_s,    u"onReset"_s,     u"onUnload"_s,   u"onLoad"_s,   u"onKeyUp"_s,
            u"onKeyPress"_s, u"onKeyDown"_s,   u"onFocus"_s,     u"onDblClick"_s, u"onChange"_s, u"onBlur"_s,
            u"onClick"_s,    u"onMouseOver"_s, u"onMouseDown"_s, u"onMouseOut"_s, u"onMouseUp"_s};
}

// ---- Images and drawing ----

QImage proportionalImageScale(QImage &image, double toSize, bool clone)
{
    if (image.isNull() || !(toSize > 0))
        return image;
    // The shorter side (in pixels) is drawn toSize long.
    const double shorter = std::min(image.width(), image.height());
    if (clone) {
        QImage copy = image.copy();
        copy.setDevicePixelRatio(shorter / toSize);
        return copy;
    }
    image.setDevicePixelRatio(shorter / toSize);
    return image;
}

QImage scaleImage(const QImage &image, double width, double height)
{
    QImage result = FennimarImaging::imageWithSize(width, height);
    if (image.isNull())
        return result;
    const QSizeF source = image.deviceIndependentSize();
    const double factor = std::min(result.width() / source.width(), result.height() / source.height());
    const QSizeF scaled = source * factor;
    const QRectF target(
        QPointF((result.width() - scaled.width()) / 2, (result.height() - scaled.height()) / 2), scaled);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, image, QRectF(QPointF(0, 0), QSizeF(image.size())));
    return result;
}

void imageFixSize(QImage &image)
{
    image.setDevicePixelRatio(1);
}

QImage createCoreImage(QWidget *view)
{
    if (!view || view->width() <= 0 || view->height() <= 0) {
        qCWarning(lcFoundationGui, "RidorIvuvud.createCoreImage - no view to draw");
        return QImage();
    }
    const int width = std::min(view->width(), FennimarImaging::MaxImageSide);
    const int height = std::min(view->height(), FennimarImaging::MaxImageSide);
    const qsizetype rowBytes = (qsizetype(width) * 4 + 15) / 16 * 16;
    auto *bytes = static_cast<uchar *>(std::calloc(size_t(rowBytes) * size_t(height), 1));
    if (!bytes) {
        qCWarning(lcFoundationGui, "RidorIvuvud.createCoreImage - no memory for %dx%d", width, height);
        return QImage();
    }
    QImage image(bytes, width, height, rowBytes, QImage::Format_ARGB32_Premultiplied, std::free, bytes);
    QPainter painter(&image);
    view->render(&painter, QPoint(), QRegion(0, 0, width, height));
    return image;
}

void drawArrowAtx(GraphicsContext &context, double x, double y, double length, double rotate)
{
    QPainterPath arrow(QPointF(0, 0));
    arrow.lineTo(length, 0);
    arrow.lineTo(length / 2, -length);
    arrow.closeSubpath();
    context.saveGraphicsState();
    context.painter().translate(x, y);
    context.painter().rotate(rotate); // counter-clockwise with y up
    context.stroke(arrow);
    context.fill(arrow);
    context.restoreGraphicsState();
}

void drawLinkLineFrom(GraphicsContext &context, QPointF from, QPointF to, const QColor &inColor)
{
    const auto ring = [&context](QPointF around) {
        QPainterPath circle;
        circle.addEllipse(QRectF(around.x() - 5, around.y() - 5, 8, 8));
        context.setLineWidth(3);
        context.stroke(circle);
    };
    context.saveGraphicsState();
    context.setStrokeColor(inColor);
    ring(from);
    context.setLineWidth(2);
    context.strokeLine(from - QPointF(0, 1), to - QPointF(0, 1));
    ring(to - QPointF(0, 1));
    context.restoreGraphicsState();
}

void drawFade(GraphicsContext &context, const QRectF &rect, const QColor &startColor, const QColor &endColor,
              bool cellBorder)
{
    FennimarGraphics::drawFadeOLD(context, rect, startColor, endColor, cellBorder);
}

int tileImage(GraphicsContext &context, const QImage &image, const QRectF &intoRect, int repeat,
              double yoffset, double delta, bool tweak)
{
    const QSizeF tile = image.deviceIndependentSize();
    const double step = tweak ? tile.width() - 0.5 : tile.width();
    if (image.isNull() || !(step > 0) || !(tile.height() > 0))
        return 0;
    const QRectF area = intoRect.translated(0, yoffset);
    const bool alongRows = repeat != TileOnce && repeat != TileColumn;
    const bool upward = repeat != TileOnce && repeat != TileRow;
    // With tweak each tile takes its pixels from half a point below the image's lower edge.
    const QRectF source = tweak ? QRectF(0, -0.5, tile.width(), tile.height()) : QRectF();

    context.saveGraphicsState();
    context.clipRect(area);
    int count = 0;
    for (double y = area.y();; y += tile.height()) {
        for (double x = area.x();; x += step) {
            if (count == MaxTiles) {
                qCWarning(lcFoundationGui, "RidorIvuvud.tileImage - stopped after %d tiles", MaxTiles);
                context.restoreGraphicsState();
                return count;
            }
            context.drawImage(image, QRectF(QPointF(x, y), tile), source.isEmpty() ? QRectF() : source,
                              std::clamp(delta, 0.0, 1.0));
            ++count;
            if (!alongRows || x + step >= area.x() + area.width())
                break;
        }
        if (!upward || y + tile.height() >= area.y() + area.height())
            break;
    }
    context.restoreGraphicsState();
    return count;
}

bool printView(QWidget *view, bool showPanel, const std::optional<QString> &toPath)
{
    if (!view || view->width() <= 0 || view->height() <= 0) {
        qCWarning(lcFoundationGui, "RidorIvuvud.printView - no view to print");
        return false;
    }
    QPrinter printer(QPrinter::PrinterResolution);
    printer.setResolution(300);
    printer.setOutputFormat(QPrinter::PdfFormat);
    if (toPath)
        printer.setOutputFileName(*toPath);
    if (showPanel) {
        QPrintDialog dialog(&printer, view->window());
        if (dialog.exec() != QDialog::Accepted)
            return false;
    }
    const QString target = printer.outputFileName();
    if (target.isEmpty()) {
        qCWarning(lcFoundationGui, "RidorIvuvud.printView - no file to print to");
        return false;
    }

    // Written beside the target under a free name, then moved over it.
    QString partial;
    {
        QTemporaryFile file(target + u".XXXXXX"_s);
        if (!file.open()) {
            qCWarning(lcFoundationGui, "RidorIvuvud.printView - cannot write beside %s: %s",
                      qPrintable(target), qPrintable(file.errorString()));
            return false;
        }
        file.setAutoRemove(false);
        partial = file.fileName();
    }
    printer.setOutputFileName(partial);

    QPainter painter;
    if (!painter.begin(&printer)) {
        QFile::remove(partial);
        qCWarning(lcFoundationGui, "RidorIvuvud.printView - cannot write %s", qPrintable(target));
        return false;
    }
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double scale = page.width() / view->width();
    const int sliceHeight = std::max(1, int(page.height() / scale));
    for (int top = 0; top < view->height(); top += sliceHeight) {
        if (top > 0)
            printer.newPage();
        painter.save();
        painter.scale(scale, scale);
        view->render(&painter, QPoint(0, 0),
                     QRegion(0, top, view->width(), std::min(sliceHeight, view->height() - top)),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
        painter.restore();
    }
    const bool written = painter.end() && QFileInfo(partial).size() > 0;
    if (!written ||
        std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(partial);
        qCWarning(lcFoundationGui, "RidorIvuvud.printView - cannot write %s", qPrintable(target));
        return false;
    }
    return true;
}

} // namespace RidorIvuvud
