// ctest-label: gui
#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Util/Ui/FormEx.h"
#include "Common/Util/Ui/LabeledComboBox.h"

#include <QLabel>

#include <QFile>
#include <QPushButton>
#include <QTest>

namespace {

class TCountingFrame : public TFrameEx {
public:
    using TFrameEx::TFrameEx;
    int refreshed = 0;
    void RefreshUI() override {
        ++refreshed;
        TFrameEx::RefreshUI();
    }
};

class TSampleForm : public TFormEx {
public:
    TSampleForm() {
        button = new QPushButton("OK", this);
        button->setProperty("ImageList", "BigNormal");
        button->setProperty("ImageIndex", 12);
        frame = new TCountingFrame(this);
        nested = new TCountingFrame(frame);
        Loaded();
    }
    QPushButton* button;
    TCountingFrame* frame;
    TCountingFrame* nested;
};

class TUniqueForm : public TFormEx {
    Q_OBJECT
};

} // namespace

class TestImagesModule : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ImagesModule = std::make_unique<TImagesModule>(); }
    void cleanupTestCase() { ImagesModule.reset(); }

    void lists() {
        const TImagesModule& m = *ImagesModule;
        QCOMPARE(m.ButtonImages.Count(), 3 * m.SmallNormal.Count());
        QCOMPARE(m.BigButtonImages.Count(), 3 * m.BigNormal.Count());
        QVERIFY(m.BigNormal.Count() > 20);
        QPixmap logo;
        m.LoadMainLogoBackground(logo);
        QVERIFY(!logo.isNull());
        QVERIFY(QFile::exists(":/deploy/deployment.json"));
    }

    void buttonIndexes_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("newList");
        QTest::addColumn<int>("hot");
        QTest::addColumn<int>("disabled");
        const int small = ImagesModule->SmallNormal.Count() * 3;
        QTest::newRow("small") << "SmallNormal" << 2 << "ButtonImages" << small / 3 + 2
                               << small / 3 * 2 + 2;
        const int big = ImagesModule->BigNormal.Count() * 3;
        QTest::newRow("big") << "BigNormal" << 12 << "BigButtonImages" << big / 3 + 12
                             << big / 3 * 2 + 12;
        QTest::newRow("no image") << "BigNormal" << -1 << "BigNormal" << -2 << -2;
        QTest::newRow("no list") << "" << 3 << "" << -2 << -2;
    }
    void buttonIndexes() {
        QFETCH(QString, list);
        QFETCH(int, index);
        QFETCH(QString, newList);
        QFETCH(int, hot);
        QFETCH(int, disabled);
        QPushButton b;
        b.setProperty("ImageList", list);
        b.setProperty("ImageIndex", index);
        ImagesModule->SetupButtonImages(&b);
        QCOMPARE(b.property("ImageList").toString(), newList);
        QCOMPARE(b.property("HotImageIndex").isValid() ? b.property("HotImageIndex").toInt() : -2,
                 hot);
        QCOMPARE(b.property("DisabledImageIndex").isValid()
                     ? b.property("DisabledImageIndex").toInt()
                     : -2,
                 disabled);
        QCOMPARE(b.icon().isNull(), hot == -2);
    }

    void lighten() {
        QImage img(2, 1, QImage::Format_ARGB32);
        img.setPixel(0, 0, qRgba(100, 50, 50, 255));
        img.setPixel(1, 0, qRgba(0, 0, 0, 0));
        const QImage out = TImagesModule::Lighten(img);
        QVERIFY(QColor(out.pixel(0, 0)).lightness() > QColor(img.pixel(0, 0)).lightness());
        QCOMPARE(QColor(out.pixel(0, 0)).hslHue(), QColor(img.pixel(0, 0)).hslHue());
        QCOMPARE(qAlpha(out.pixel(1, 0)), 0); // transparent stays transparent
    }

    void formRefreshAndButtons() {
        TSampleForm form;
        QCOMPARE(form.button->property("ImageList").toString(), QString("BigButtonImages"));
        QCOMPARE(form.frame->refreshed, 1);
        QCOMPARE(form.nested->refreshed, 1); // cascades through the frame, once
        form.RefreshUI();
        QCOMPARE(form.nested->refreshed, 2);
    }

    void labeledComboBox_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QPoint>("expected"); // relative to a 100x20 box at (100, 50), label 40x15
        QTest::newRow("above") << int(TLabeledComboBox::lpAbove) << QPoint(100, 50 - 15 - 3);
        QTest::newRow("below") << int(TLabeledComboBox::lpBelow) << QPoint(100, 70 + 3);
        QTest::newRow("left") << int(TLabeledComboBox::lpLeft) << QPoint(100 - 40 - 3, 50 + 2);
        QTest::newRow("right") << int(TLabeledComboBox::lpRight) << QPoint(200 + 3, 50 + 2);
    }
    void labeledComboBox() {
        QFETCH(int, position);
        QFETCH(QPoint, expected);
        QWidget parent;
        auto* box = new TLabeledComboBox(&parent);
        box->EditLabel()->setFixedSize(40, 15);
        box->SetLabelPosition(TLabeledComboBox::TLabelPosition(position));
        parent.show();
        box->setGeometry(100, 50, 100, 20);
        QCOMPARE(box->EditLabel()->pos(), expected);
        box->move(110, 50); // the label moves with the box
        QCOMPARE(box->EditLabel()->pos(), expected + QPoint(10, 0));
        box->setEnabled(false);
        QVERIFY(!box->EditLabel()->isEnabled());
        box->hide();
        QVERIFY(box->EditLabel()->isHidden());
    }

    void uniqueInstance() {
        auto first = std::make_unique<TUniqueForm>();
        first->SetUniqueInstance(true);
        TUniqueForm second;
        try {
            second.SetUniqueInstance(true);
            QFAIL("no error");
        } catch (const EForm& e) {
            QCOMPARE(e.Title(), QString("Ez a form csak egy példányban létezhet."));
            QVERIFY(e.Message().contains("TUniqueForm"));
        }
        std::unique_ptr<TUniqueForm> created;
        QCOMPARE(FormInstance<TUniqueForm>(created), first.get());
        QVERIFY(!created);
        first.reset();
        second.SetUniqueInstance(true); // the destroyed window no longer counts
        QVERIFY(second.UniqueInstance());
    }
};

QTEST_MAIN(TestImagesModule)
#include "tst_ImagesModule.moc"
