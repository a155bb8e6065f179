// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/phrase_lines.h"

#include <algorithm>

namespace {

// ASCII marks end nothing: they sit inside times, paths and codes (10:05:00, a.ics).
const QString kEndsPhrase = QStringLiteral(" ，。？！：；、）」』”’");
const QString kOpensPhrase = QStringLiteral("（「『“‘");

QStringList Phrases(const QString& paragraph) {
    QStringList phrases;
    QString phrase;
    for (int i = 0; i < paragraph.size(); ++i) {
        phrase += paragraph[i];
        const bool last = i + 1 == paragraph.size();
        if (last || (kEndsPhrase.contains(paragraph[i]) && paragraph[i + 1] != QLatin1Char(' ')) ||
            kOpensPhrase.contains(paragraph[i + 1])) {
            phrases << phrase;
            phrase.clear();
        }
    }
    return phrases;
}

// Greedy filling; a phrase wider than a line goes in character by character.
void Fill(QStringList& lines, const QString& paragraph, int width,
          const std::function<int(const QString&)>& measure) {
    QString line;
    const auto put = [&](const QString& piece) {
        if (!line.isEmpty() && measure((line + piece).trimmed()) > width) {
            lines << line; // its closing space stays: without the breaks the text reads whole
            line.clear();
        }
        if (line.isEmpty()) {
            const auto start = std::find_if(piece.begin(), piece.end(),
                                            [](QChar c) { return c != QLatin1Char(' '); });
            line = QString(start, piece.end() - start); // no line starts with a space
        } else {
            line += piece;
        }
    };
    for (const QString& phrase : Phrases(paragraph)) {
        if (measure(phrase.trimmed()) <= width) {
            put(phrase);
            continue;
        }
        for (QChar c : phrase) {
            put(QString(c));
        }
    }
    lines << line;
}

} // namespace

QStringList PhraseLines(const QString& text, int width,
                        const std::function<int(const QString&)>& measure) {
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        Fill(lines, paragraph, width, measure);
    }
    return lines;
}
