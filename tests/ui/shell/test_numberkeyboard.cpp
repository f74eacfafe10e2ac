// The number keypad's editing rules, keys, texts and the number line edit.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "page_harness.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pagepattern.h"
#include "ui_numberkeyboard.h"

class TestNumberKeyboard : public QObject
{
    Q_OBJECT
    NumberKeyboard* kb = nullptr;

    // Moves the focus to index i and presses OK.
    void press(int i)
    {
        while (kb->focused_index() != i)
            release_key(kb, 'R');
        release_key(kb, 'Q');
    }

  private slots:
    void init()
    {
        g_language = 1;
        g_lcd_lang_valid = kDefaultLcdLangValid;
        kb = new NumberKeyboard(nullptr);
        kb->label_show("W", "1920");
    }
    void cleanup() { delete kb; }

    void firstDigitReplacesTheValue()
    {
        QSignalSpy spy(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
        press(4);
        QCOMPARE(kb->text(), QString("5"));
        press(13);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toString(), QString("5"));
    }

    void confirmAtOnceReturnsTheValue()
    {
        QSignalSpy spy(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
        kb->on_Button_ok_clicked();
        QCOMPARE(spy[0][0].toString(), QString("1920"));
    }

    void digitsStopAtTheLimit()
    {
        for (int i = 0; i < 25; ++i)
            press(i % 2 ? 9 : 8);
        QString nineteen = QString("90").repeated(10).left(19);
        QCOMPARE(kb->text(), nineteen);
        QCOMPARE(l_str, nineteen);
    }

    void deleteThenDigitAppends()
    {
        kb->on_ButtonX_clicked();
        QCOMPARE(kb->text(), QString("192"));
        QCOMPARE(l_str, QString("192"));
        press(6);
        QCOMPARE(kb->text(), QString("1927"));
    }

    void clearThenConfirmGivesZero()
    {
        QSignalSpy spy(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
        kb->on_ButtonC_clicked();
        kb->on_Button_ok_clicked();
        QCOMPARE(spy[0][0].toString(), QString("0"));
    }

    void zeroOnAZeroEntryKeepsTheClearedState()
    {
        kb->on_ButtonC_clicked();
        press(9);
        QCOMPARE(kb->text(), QString("0"));
        QVERIFY(l_str.isEmpty());
        press(0);
        press(9);
        QCOMPARE(kb->text(), QString("10"));
    }

    void deleteOnEmptyChangesNothing()
    {
        kb->label_show("W", "");
        kb->on_ButtonX_clicked();
        QCOMPARE(kb->text(), QString(""));
    }

    void cancelAndBackEmitNothing()
    {
        QSignalSpy spy(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
        kb->on_Button_close_clicked();
        release_key(kb, Qt::Key_PowerOff);
        QCOMPARE(spy.count(), 0);
    }

    void focusWrapsAndConfirmIsBlue()
    {
        release_key(kb, 'S');
        QCOMPARE(kb->focused_index(), u8(13));
        QCOMPARE(kb->form()->Button_ok->styleSheet(),
                 QString("background-color: rgb(71, 119, 255);border:1px solid rgb(255,171,84);"));
        release_key(kb, Qt::Key_F5);
        QCOMPARE(kb->focused_index(), u8(0));
        QCOMPARE(kb->form()->Button_ok->styleSheet(), QString("background-color: rgb(71, 119, 255);border:1px ;"));
    }

    void theCursorRingsTheBlueKeyAsAnyOther()
    {
        QVERIFY(kb->cursor()->isHidden());
        for (int step : {'S', 'R', 'R'}) {
            release_key(kb, step);
            QWidget* key = kb->form()->Button_ok;
            if (kb->focused_index() != 13)
                key = kb->findChild<QPushButton*>(QString("Button%1").arg(kb->focused_index() + 1));
            QVERIFY(!kb->cursor()->isHidden());
            QCOMPARE(kb->cursor()->geometry(), key->geometry().adjusted(-3, -3, 3, 3));
        }
    }

    void textsFollowTheLanguage()
    {
        g_language = 3;
        g_lcd_lang_valid = 0x08;
        kb->label_show("W", "1");
        QCOMPARE(kb->form()->Button_close->text(), QString("Hủy bỏ"));
        QCOMPARE(kb->form()->Button_ok->text(), QString("Đồng ý"));
        g_lcd_lang_valid = 0x07;
        kb->label_show("W", "1");
        QCOMPARE(kb->form()->Button_close->text(), QString("Cancle"));
        QCOMPARE(kb->form()->Button_ok->text(), QString("OK"));
    }

    void validatorKeepsDigitsAndStar()
    {
        QLineEdit* edit = kb->form()->lineEdit;
        edit->clear();
        QTest::keyClicks(edit, "1a*2");
        QCOMPARE(edit->text(), QString("1*2"));
    }

    void execNeverNests()
    {
        int inner = -2;
        QTimer::singleShot(0, [&] {
            inner = kb->exec();
            kb->hide();
        });
        kb->exec();
        QCOMPARE(inner, int(QDialog::Rejected));
    }

    void lineEditAsksForTheKeypad()
    {
        My_lineEdit edit;
        edit.setText("42");
        QSignalSpy spy(&edit, &My_lineEdit::send_show);
        QTest::mouseClick(&edit, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toString(), QString("42"));
    }
};

QTEST_MAIN(TestNumberKeyboard)
#include "test_numberkeyboard.moc"
