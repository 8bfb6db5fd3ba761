#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <vector>

// A page for the viewer as a sequence of blocks, each of which can be laid
// out as a small page of its own, so that a long page costs only what is
// seen. Plain text and ranges: the alert page's builder, which links no
// GUI library, makes it in the same pass as the page file.
struct PageBlocks {
    struct Block {
        qsizetype from = 0;  // the block's part of `markup`
        qsizetype to = 0;
        // What a screen reader says for the block, as markup: the viewer
        // reads it as it reads the page, so it says what is seen.
        QString name;

        bool operator==(const Block &) const = default;
    };

    QString markup;  // the page as the viewer shows it
    // Every block but the first is wrapped in these to stand alone; the
    // first opens the page itself and is only closed.
    QString opening;
    QString closing;
    // A block as the page makes them, holding nothing of the user's: the
    // viewer measures the page's spacing and a typical block on it.
    QString sample;
    std::vector<Block> blocks;

    QString blockHtml(size_t i) const
    {
        const Block &b = blocks.at(i);
        QString html;
        html.reserve(opening.size() + (b.to - b.from) + closing.size());
        if (i > 0)
            html += opening;
        html += QStringView(markup).sliced(b.from, b.to - b.from);
        html += closing;
        return html;
    }

    bool operator==(const PageBlocks &) const = default;
};
