#pragma once

// What the window-level tests share: main() with the real application object, the widget
// headers they use and small helpers on the open campaign and the account settings.

#include "AccountSettings.h"
#include "BriskoApplication.h"
#include "DialogDriver.h"
#include "FennimarUserDefaults.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

// launched: false for a test that drives the launch sequence itself.
#define BRISKO_APP_TEST_MAIN(TestClass, launched)                                                            \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        return brisko::test::runWithApplication<TestClass>(argc, argv, launched);                            \
    }

namespace brisko::test {

template <typename TestClass> int runWithApplication(int argc, char **argv, bool launch)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BriskoApplication application(argc, argv);
    if (!application.loadInterface())
        return 1;
    if (launch)
        application.applicationDidFinishLaunching();
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

inline BriskoApplication *app()
{
    return BriskoApplication::instance();
}

// An empty, unmodified campaign.
inline void clearCampaign()
{
    app()->campaign().apply(
        {QString(), QString(), QString(), QString(), QString(), QString(), QStringList(), RecipientList()});
    app()->campaign().setModified(false);
}

// Records with these addresses and a NAME made from each ("n" + address).
inline void setRecipients(const QStringList &addresses)
{
    RecipientList list;
    for (const QString &address : addresses)
        list.append(makeRecipient(
            {{QStringLiteral("EMAIL"), address}, {QStringLiteral("NAME"), QLatin1Char('n') + address}}));
    app()->campaign().setRecipients(list);
}

// Exactly these rows of the table selected.
inline void selectRows(const QList<int> &rows)
{
    app()->listView()->clearSelection();
    for (int row : rows)
        app()->listView()->selectionModel()->select(app()->listView()->model()->index(row, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Stores a preference; none removes it.
inline void store(QStringView key, const std::optional<QString> &value)
{
    if (value)
        FennimarUserDefaults::setObject(*value, key.toString());
    else
        FennimarUserDefaults::settings()->remove(key.toString());
}

inline const QString TestAccessKey = QStringLiteral("AKIDWINDOWTEST000001");
inline const QString TestSecretKey = QStringLiteral("wJalr/Window+Secret/Key0000000000000000");
// A v4 account on the service at this endpoint.
inline void storeAccount(const QString &endpoint)
{
    store(AccountSettings::AccessKeyKey, TestAccessKey);
    store(AccountSettings::SecretKeyKey, TestSecretKey);
    store(AccountSettings::EndpointKey, endpoint);
    store(AccountSettings::SignatureVersionKey, QStringLiteral("v4"));
}

} // namespace brisko::test
