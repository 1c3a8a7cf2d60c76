#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"

#include <QList>
#include <Qt>

#include <optional>

class QMimeData;

// The rules by which every browser accepts drops on its rows, as pure functions over what the
// drop brings, so that the column panel, the icon and the list browser follow them alike.
namespace RowDropRules {

enum class Operation { none = 0, copy = 1, move = 16 };
// On a row, or between rows (also below the last one, or on the empty stretch of the view).
enum class Position { on, above };

struct Context {
    // The view's items by row, and the folder the view shows.
    QList<FileItem> items;
    URL folder;
    // -1 when the drop is outside the rows.
    int row = -1;
    Position position = Position::above;
    // What readFileURLs gave, and whether the data carried our internal list.
    QList<URL> dropped;
    bool hasInternalURLs = false;
    // Alt, our Option key: copy even where the drop would move.
    bool copyModifierHeld = false;
};

// A drop that was taken: the browser's drop task copies or moves urls into target.
struct Plan {
    QList<URL> urls;
    URL target;
    bool isMove = false;
};

// Reads the drop's data the in-process way and the modifiers (Alt) into a context.
Context contextFor(const QMimeData* data, QList<FileItem> items, URL folder, int row, Position position,
                   Qt::KeyboardModifiers modifiers);

// True when some location would land on itself, in its own parent, or inside itself. Locations
// are compared as places (scheme, device, container and cleaned path), never as text.
bool isRefused(const QList<URL>& dropped, const URL& target);

// What the view shows while the drag hovers: none for a refused drop, otherwise move for one of
// our own drags without Alt, and copy for the rest.
Operation validate(const Context& context);
// Whether the drop is taken, and how. A drop between locations of different schemes copies even
// where validation showed move: the sources stay where they are.
std::optional<Plan> accept(const Context& context);

Qt::DropAction toDropAction(Operation operation);

} // namespace RowDropRules
