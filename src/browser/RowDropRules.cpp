#include "browser/RowDropRules.h"

#include "browser/OrvantaDragMimeData.h"

namespace RowDropRules {

namespace {

bool rowIsFolder(const Context& context) {
    return context.row >= 0 && context.row < context.items.size() &&
           context.items.at(context.row).isDirectory();
}

} // namespace

Context contextFor(const QMimeData* data, QList<FileItem> items, URL folder, int row, Position position,
                   Qt::KeyboardModifiers modifiers) {
    Context context;
    context.items = std::move(items);
    context.folder = std::move(folder);
    context.row = row;
    context.position = position;
    context.dropped = readFileURLs(data);
    context.hasInternalURLs = !readInternalURLs(data).isEmpty();
    context.copyModifierHeld = modifiers.testFlag(Qt::AltModifier);
    return context;
}

bool isRefused(const QList<URL>& dropped, const URL& target) {
    for (const URL& url : dropped) {
        if (url.deletingLastPathComponent().isSameLocation(target) || url.isSameLocation(target) ||
            target.isBelow(url))
            return true;
    }
    return false;
}

Operation validate(const Context& context) {
    if (context.position == Position::on && !rowIsFolder(context))
        return Operation::none;
    if (context.dropped.isEmpty())
        return Operation::none;
    const URL& target =
        context.position == Position::on ? context.items.at(context.row).path() : context.folder;
    if (isRefused(context.dropped, target))
        return Operation::none;
    if (!context.hasInternalURLs || context.copyModifierHeld)
        return Operation::copy;
    return Operation::move;
}

std::optional<Plan> accept(const Context& context) {
    if (context.dropped.isEmpty())
        return std::nullopt;
    // A drop on a file row goes to the view's folder.
    const bool intoRow = context.position == Position::on && rowIsFolder(context);
    Plan plan;
    plan.urls = context.dropped;
    plan.target = intoRow ? context.items.at(context.row).path() : context.folder;
    // Acceptance checks the refusals again: a drop the view was never asked to validate (or a
    // stale validation) must not copy a folder into itself.
    if (isRefused(plan.urls, plan.target))
        return std::nullopt;
    bool sameScheme = true;
    for (const URL& url : plan.urls) {
        if (url.scheme() != plan.target.scheme())
            sameScheme = false;
    }
    plan.isMove = context.hasInternalURLs && sameScheme && !context.copyModifierHeld;
    return plan;
}

Qt::DropAction toDropAction(Operation operation) {
    switch (operation) {
    case Operation::copy:
        return Qt::CopyAction;
    case Operation::move:
        return Qt::MoveAction;
    case Operation::none:
        break;
    }
    return Qt::IgnoreAction;
}

} // namespace RowDropRules
