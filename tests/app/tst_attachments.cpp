// Attachments and the Unsubscribe field in the window: attaching (panel and drop), refusals,
// Delete with undo, the size shown, the send-time checks and what reaches the service.

#include "AppTestMain.h"
// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "BriskoConnector.h"
#include "CampaignFile.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

static const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                                     "</SendRawEmailResult></SendRawEmailResponse>";

class TestAttachments : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeSesServer> m_server;

    QString file(const QString &name, const QByteArray &bytes)
    {
        QFile out(m_dir.filePath(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return {};
        return out.fileName();
    }
    QString sparse(const QString &name, qint64 size)
    {
        QFile out(m_dir.filePath(name));
        if (!out.open(QIODevice::WriteOnly) || !out.resize(size))
            return {};
        return out.fileName();
    }
    static QListWidget *list() { return app()->attachmentList(); }
    QList<RecordedRequest> sends() const
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest &request : m_server->requests()) {
            if (request.action() == u"SendRawEmail")
                found.append(request);
        }
        return found;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeSesServer>();
        QVERIFY(m_server->listen());
        m_server->setAnswer({200, SendAnswer});
        storeAccount(m_server->endpoint());
        store(AccountSettings::SendRateKey, u"50"_s);
        store(u"SuppressUnsubscribeNote", std::nullopt);
        clearCampaign();
        app()->campaign().setupTableColumns({u"EMAIL"_s, u"NAME"_s});
        setRecipients({u"a@attach.test"_s, u"b@attach.test"_s});
        app()->campaign().clearOutcomes();
        app()->fromField()->setText(u"me@attach.test"_s);
        app()->bodyView()->setPlainText(u"Dear __NAME__"_s);
        app()->unsubscribeField()->clear();
    }

    void cleanup()
    {
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        QTRY_VERIFY(!app()->briskocon() || app()->briskocon()->pendingResponses() == 0);
        store(AccountSettings::SendRateKey, std::nullopt);
        app()->setAttachPathsChooser({});
        m_server.reset();
    }

    // Files from the panel are attached in order with their types; one too large for any message
    // is refused with its size, the others still come. Delete removes, Edit › Undo brings back.
    void attachRemoveAndUndo()
    {
        const QString pdf = file(u"Preisliste Grüße.pdf"_s, "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
        const QString big = sparse(u"big.bin"_s, 8 * 1024 * 1024);
        const QString text = file(u"notes.txt"_s, "words\n");
        app()->setAttachPathsChooser([=] { return QStringList{pdf, big, text}; });
        DialogDriver boxes({u"OK"_s});
        app()->attachFiles();
        QCOMPARE(boxes.shown(), 1);
        QVERIFY2(boxes.texts().first().contains(u"big.bin is 8.0 MB"_s), qPrintable(boxes.texts().first()));
        const AttachmentList files = app()->campaign().attachments();
        QCOMPARE(files.size(), 2);
        QCOMPARE(files.at(0).name, u"Preisliste Grüße.pdf"_s);
        QCOMPARE(files.at(0).type, u"application/pdf"_s);
        QCOMPARE(files.at(1).type, u"text/plain"_s);
        QCOMPARE(list()->count(), 2);
        QVERIFY(app()->campaign().isModified());

        list()->setFocus();
        list()->setCurrentRow(0);
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(app()->campaign().attachments().size(), 1);
        QCOMPARE(app()->campaign().attachments().first().name, u"notes.txt"_s);
        QAction *undo = app()->window()->findChild<QAction *>(u"undoAction"_s);
        QVERIFY(undo && undo->isEnabled());
        undo->trigger();
        QCOMPARE(app()->campaign().attachments(), files);
        QCOMPARE(list()->count(), 2);
    }

    // Files dropped on an editor are attached; the editor's text stays as it was.
    void dropOnTheEditor()
    {
        const QString text = file(u"dropped.txt"_s, "dropped\n");
        QWidget *viewport = app()->bodyView()->viewport();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(text)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QTRY_COMPARE(app()->campaign().attachments().size(), 1);
        QCOMPARE(app()->campaign().attachments().first().data, "dropped\n"_ba);
        QCOMPARE(app()->bodyView()->toPlainText(), u"Dear __NAME__"_s);
    }

    // The size beside the list follows edits a moment later, and turns into a warning over the limit.
    void sizeFollowsEdits()
    {
        QLabel *label = app()->messageSizeLabel();
        QVERIFY(label);
        app()->updateMessageSize();
        QVERIFY2(label->text().endsWith(u"KB of at most 10.0 MB"_s), qPrintable(label->text()));
        app()->campaign().setAttachments({{u"a.bin"_s, u"application/octet-stream"_s, QByteArray(3 * 1024 * 1024, 'x')}});
        QTRY_VERIFY2(label->text().startsWith(u"Message size: 4.1 MB"_s), qPrintable(label->text()));
        app()->campaign().setAttachments({{u"a.bin"_s, u"application/octet-stream"_s, QByteArray(8 * 1024 * 1024, 'x')}});
        QTRY_VERIFY(label->text().startsWith(u"Message size: 10.8 MB"_s));
        QVERIFY(!label->accessibleDescription().isEmpty());
    }

    // The field is the campaign's UNSUBSCRIBE: typed, saved, opened, cleared by a file without it.
    void unsubscribeFieldIsSaved()
    {
        const QString link = u"https://example.com/u?e=__EMAIL__"_s;
        app()->unsubscribeField()->setText(link);
        QCOMPARE(app()->campaign().unsubscribe(), link);
        CampaignDocument document = app()->campaign().document();
        QCOMPARE(document.unsubscribe, std::optional<QString>(link));
        const QString path = m_dir.filePath(u"with.brisko"_s);
        QCOMPARE(CampaignFile::write(path, document), std::nullopt);
        clearCampaign();
        QCOMPARE(app()->unsubscribeField()->text(), QString());
        app()->loadCampaignFromFile(path);
        QCOMPARE(app()->unsubscribeField()->text(), link);
    }

    // Without a link the first question says providers expect one; "Don't ask again" keeps it
    // from the next question. An unusable link refuses before any question.
    void confirmationNote()
    {
        QStringList texts;
        bool boxSeen = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->property("answered").toBool())
                return;
            box->setProperty("answered", true);
            texts.append(box->informativeText());
            boxSeen = box->checkBox() != nullptr;
            if (box->checkBox())
                box->checkBox()->setChecked(true);
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == u"Cancel"_s || button->text() == u"OK"_s)
                    QTimer::singleShot(0, button, &QAbstractButton::click);
            }
        });
        poll.start(10);
        app()->deliver();
        QCOMPARE(texts.size(), 1);
        QVERIFY(texts.first().contains(u"no Unsubscribe link"_s));
        QVERIFY(boxSeen);
        QVERIFY(FennimarUserDefaults::objectForKey(u"SuppressUnsubscribeNote"_s, false).toBool());
        app()->deliver();
        QCOMPARE(texts.size(), 2);
        QVERIFY(!texts.last().contains(u"no Unsubscribe link"_s));
        QVERIFY(!boxSeen);

        app()->unsubscribeField()->setText(u"http://example.com/u"_s);
        app()->deliver();
        QCOMPARE(texts.size(), 3);
        QVERIFY2(texts.last().contains(u"https"_s), qPrintable(texts.last()));
        QVERIFY(m_server->requests().isEmpty());
    }

    // 11 MB of message is refused with its size and the limit after the question, before any
    // request; a message that fits goes out with the link and the file.
    void sizeCheckAndWhatIsSent()
    {
        app()->unsubscribeField()->setText(u"https://example.com/u?e=__EMAIL__, mailto:off@example.com"_s);
        app()->campaign().setAttachments(
            {{u"big.bin"_s, u"application/octet-stream"_s, QByteArray(8 * 1024 * 1024 + 300 * 1024, 'x')}});
        {
            DialogDriver refused({u"Send"_s, u"OK"_s});
            app()->deliver();
            QCOMPARE(refused.shown(), 2);
            QVERIFY2(refused.texts().at(1).startsWith(u"Sending did not start.\n"_s) &&
                         refused.texts().at(1).contains(u"11.2 MB"_s) && refused.texts().at(1).contains(u"10.0 MB"_s),
                     qPrintable(refused.texts().at(1)));
            QTest::qWait(50);
            QVERIFY(m_server->requests().isEmpty());
        }
        const QByteArray data("\x00\x01\xfe\xff binary", 12);
        app()->campaign().setAttachments({{u"Ärger.bin"_s, u"application/octet-stream"_s, data}});
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(sends().size(), 2, 5000);
        QCOMPARE(boxes.unexpected(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
        // Requests may arrive in either order.
        const RecordedRequest toB = sends().at(0).form().value(u"Destinations.member.1"_s) == u"b@attach.test"_s
                                        ? sends().at(0)
                                        : sends().at(1);
        const QByteArray raw = QByteArray::fromBase64(toB.form().value(u"RawMessage.Data"_s).toLatin1());
        // Folded: the line would pass 78 characters.
        QVERIFY(raw.contains("List-Unsubscribe: <https://example.com/u?e=b%40attach.test>,\n <mailto:off@example.com>\n"
                             "List-Unsubscribe-Post: List-Unsubscribe=One-Click\n"));
        QVERIFY(raw.contains("Content-Type: multipart/mixed;"));
        QVERIFY(raw.contains("filename*=UTF-8''%C3%84rger.bin"));
        QVERIFY(raw.contains(data.toBase64()));
    }
};

BRISKO_APP_TEST_MAIN(TestAttachments, true)
#include "tst_attachments.moc"
