#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <vector>

// A page for the viewer as a sequence of blocks, each of which can be laid
// out as a small page of its own, so that a long page costs only what is
// seen. Plain text and ranges: the alert page's builder, which links no
// GUI library, makes it in the same pass as the page file.
struct PageBlocks {
    struct Block {
        qsizetype from = 0;  // the block's bytes in `markup`
        qsizetype to = 0;
        // What a screen reader says for the block, as markup: the viewer
        // reads it as it reads the page, so it says what is seen.
        QString name;

        bool operator==(const Block &) const = default;
    };

    // The page as the viewer shows it, in UTF-8: the page is most of what
    // the windows hold, and nearly all of it ASCII.
    QByteArray markup;
    // Every block but the first is wrapped in these to stand alone; the
    // first opens the page itself and is only closed.
    QString opening;
    QString closing;
    // A block as the page makes them, holding nothing of the user's: the
    // viewer measures the page's spacing and a typical block on it.
    QString sample;
    std::vector<Block> blocks;

    QByteArrayView blockBytes(size_t i) const
    {
        const Block &b = blocks.at(i);
        return QByteArrayView(markup).sliced(b.from, b.to - b.from);
    }

    QString blockHtml(size_t i) const
    {
        QString html;
        if (i > 0)
            html += opening;
        html += QString::fromUtf8(blockBytes(i));
        html += closing;
        return html;
    }

    bool operator==(const PageBlocks &) const = default;
};
