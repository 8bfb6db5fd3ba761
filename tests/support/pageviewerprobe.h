#pragma once

#include "page/pageviewer.h"

#include <QTextDocument>

// What tests look at inside the viewer: which blocks are laid out, a
// block's document, the page's text.
class PageViewerProbe {
public:
    explicit PageViewerProbe(PageViewer &viewer) : m_viewer(viewer) { }

    bool isLaidOut(int block) const { return m_viewer.isLaidOut(block); }
    int laidOutCount() const
    {
        int count = 0;
        for (int k = 0; k < m_viewer.blockCount(); ++k)
            count += m_viewer.isLaidOut(k) ? 1 : 0;
        return count;
    }
    // Laid out at the viewer's width.
    QTextDocument *blockDocument(int block) { return m_viewer.blockDocument(block); }
    // Every block's text, read but not laid out.
    QString toPlainText() const { return m_viewer.toPlainText(); }

private:
    PageViewer &m_viewer;
};
