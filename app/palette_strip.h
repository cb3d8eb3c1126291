#pragma once
// app/palette_strip.h: the result's palette as a strip of square cells in palette order, wrapped
// into rows; translucent entries over a small checkerboard. Hovering a cell shows its RGBA and
// pixel count; clicking selects it (the frame highlights its pixels) and clicking it again, or an
// empty spot, lets go. A right click locks an entry's colour (marked by a small square in its corner)
// so that the next reduction keeps it exactly; locks are colours, so they outlive the entries and
// mark the kept colour again in the next result. UI thread only.

#include <cstdint>
#include <vector>

#include <QColor>
#include <QWidget>

namespace tessaline {

class CPaletteStrip : public QWidget
{
    Q_OBJECT

public:
    explicit CPaletteStrip(QWidget* parent = nullptr);

    /// Shows `colours` (straight-alpha ARGB, palette order) with the pixels each one has; the two
    /// lists have the same length (the shorter one counts). Drops the selection.
    void SetEntries(std::vector<QRgb> colours, std::vector<std::uint64_t> pixels);
    int EntryCount() const { return static_cast<int>(colours.size()); }
    QRgb EntryColour(int index) const { return colours.at(static_cast<std::size_t>(index)); }
    std::uint64_t EntryPixels(int index) const { return pixels.at(static_cast<std::size_t>(index)); }

    /// The cell of entry `index` in widget coordinates, and the entry under a point (-1 for none).
    QRect EntryRect(int index) const;
    int EntryAt(QPoint point) const;
    /// The hover text of entry `index`.
    QString EntryText(int index) const;

    /// The selected entry, or -1.
    int Selected() const { return selected; }
    /// Selects `index` (-1 for none) as a click would, announcing a change.
    void Select(int index);

    /// Locks the colour of entry `index`, or unlocks it when locked, as a right click does.
    void ToggleLock(int index);
    bool IsLocked(int index) const;
    /// Unlocks every colour (a new image's palette starts free), announcing it when any was locked.
    void ClearLocks();
    /// The locked colours (straight-alpha ARGB) in the order they were locked.
    const std::vector<QRgb>& LockedColours() const { return locked; }

signals:
    /// The selected entry changed; -1 when none is selected.
    void selectionChanged(int index);
    /// A colour was locked or unlocked.
    void locksChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();

    std::vector<QRgb> colours;
    std::vector<std::uint64_t> pixels;
    std::vector<QRgb> locked;
    int selected = -1;
    int cell = 8;    ///< side of one square cell in pixels
    int columns = 1; ///< cells per row
};

} // namespace tessaline
