// The words the windows show, worked out without a window.
#include "core/delete_question.h"
#include "core/reason_text.h"

#include <QtTest>

class TestTexts : public QObject {
    Q_OBJECT
private slots:
    void theDeleteQuestionNamesTheRowOrCountsThem() {
        QCOMPARE(DeleteQuestion({"下课"}), QString("真的要删除“下课”吗？"));
        QCOMPARE(DeleteQuestion({""}), QString("真的要删除这条记录吗？"));
        QCOMPARE(DeleteQuestion({"a", "b", "c"}), QString("真的要删除这些记录（共 3 条）吗？"));
    }

    void reasonsAreShownInChinese() {
        QCOMPARE(ReasonForPeople("does not exist"), QString("文件不存在"));
        QCOMPARE(ReasonForPeople("is the program's own database, not a sound file"),
                 QString("这是本程序的数据库，不是声音文件"));
    }
};

QTEST_MAIN(TestTexts)
#include "test_texts.moc"
