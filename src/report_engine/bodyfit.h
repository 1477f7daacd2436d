#pragma once
#include "pagemodel.h"

#include <QHash>
#include <QVector>

namespace lectoria::report {

// Keeps what a report prints between the page's margins. Bands are designed
// on one body width; on a narrower body (a smaller paper, wider margins)
// every horizontal position and width is scaled down in proportion, memo
// lines are set in a font smaller in the same proportion, a box is moved in
// from an edge it crosses, and a text wider than the room between its anchor
// and the body's edge is set in a smaller font, down to MinPointSize, and
// cut at a whole character below that. Measures with textmeasure.h, and adds
// the fonts it makes to the document's font table.
class BodyFit {
public:
    // The smallest font a text is shrunk to so that it stays inside the body.
    static constexpr qreal MinPointSize = 5;

    BodyFit() = default;
    // The body from `left` to `right` on the paper, bands designed `designWidth` wide.
    BodyFit(int left, int right, int designWidth, QVector<FontSpec> *fonts);

    int left() const { return m_left; }
    int right() const { return m_right; }
    int width() const { return m_body; }

    // A position or width of the designed band on this body.
    int scaled(int v) const
    {
        return m_narrow ? int((qint64(v) * m_body + (v < 0 ? -m_design : m_design) / 2) / m_design) : v;
    }
    // The font of a memo's lines: on a narrow body smaller in the body's
    // proportion, so that every line of every memo keeps one size (a long
    // line alone would otherwise shrink just enough for itself).
    quint16 memoFont(quint16 designed);
    // Moves and narrows a placed item, cuts or shrinks its text, so that it
    // stays inside the body (see the class comment). A cut text ends in "…".
    // Without `fitText` only the box is moved: the text stays whole (for the
    // data files, which carry values, not ink).
    void keepInside(PageItem &item, bool fitText = true);
    // Widens the fixed-width items among items[first..] whose text does not
    // fit their box into the room their line leaves empty: a left-aligned
    // one to the right, a right-aligned one to the left, up to the ink of
    // the next text on the line (or the body's edge), so that a value is cut
    // only when the line really has no room for it. The anchors stay.
    void spreadIntoFreeWidth(QVector<PageItem> &items, qsizetype first) const;
    // The font table's index of a font, the font added when it is new.
    quint16 fontSlot(const FontSpec &f);

private:
    int m_left = 0, m_right = 0;
    int m_body = 1, m_design = 1;
    bool m_narrow = false;
    QVector<FontSpec> *m_fonts = nullptr;
    QHash<quint16, quint16> m_narrowed; // memo fonts by the designed font
};

} // namespace lectoria::report
