// SPDX-License-Identifier: GPL-3.0-or-later
// The words the windows show, worked out without a window.
#include "core/delete_question.h"
#include "core/phrase_lines.h"
#include "core/reason_text.h"

#include <QtTest>

class TestTexts : public QObject {
    Q_OBJECT
private slots:
    void linesBreakBetweenPhrasesAndQuestionsNameTheirRows() {
        const auto lines = [](const QString& text, int width) { // a unit a character
            return PhraseLines(text, width, [](const QString& l) { return int(l.size()); });
        };
        QCOMPARE(lines("退出后将不再按时播放铃声。确定退出吗？", 14),
                 QStringList({"退出后将不再按时播放铃声。", "确定退出吗？"}));
        QCOMPARE(
            lines("星期一、星期二 的全部事件将被 星期三 的事件替换。确定复制吗？", 12),
            QStringList({"星期一、星期二 ", "的全部事件将被 星期三 ", "的事件替换。确定复制吗？"}));
        QCOMPARE(lines("文件：/a/bcdefgh.ics\n好", 6),
                 QStringList({"文件：/a/", "bcdefg", "h.ics", "好"}));
        QCOMPARE(DeleteQuestion({"下课"}), QString("真的要删除“下课”吗？"));
        QCOMPARE(DeleteQuestion({"a", "b", "c"}), QString("真的要删除这些记录（共 3 条）吗？"));
        QCOMPARE(ReasonForPeople("is the program's own database, not a sound file"),
                 QString("这是本程序的数据库，不是声音文件"));
    }
};

QTEST_MAIN(TestTexts)
#include "test_texts.moc"
