#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQmlListProperty>
#include <QTimer>

#include <utility>

// The child lists of the document tree: the owner takes each element as a Qt
// child, a null element is ignored, and an element deleted elsewhere leaves
// the list instead of dangling.
namespace OwnedList {

template <typename T, typename Owner>
void append(Owner* owner, QList<T*>& list, T* item, void (Owner::*changed)())
{
    if (!item)
        return;
    list.append(item);
    item->setParent(owner);
    QObject::connect(item, &QObject::destroyed, owner, [owner, &list, item, changed] {
        if (list.removeAll(item) > 0)
            emit(owner->*changed)();
    });
    emit(owner->*changed)();
}

template <typename T> T* at(const QList<T*>& list, int index)
{
    return index >= 0 && index < list.size() ? list.at(index) : nullptr;
}

namespace detail {
    template <typename T, typename Owner> QList<QPointer<T>> take(Owner* owner, QList<T*>& list)
    {
        QList<QPointer<T>> taken;
        for (T* item : std::exchange(list, {})) {
            QObject::disconnect(item, &QObject::destroyed, owner, nullptr);
            taken.append(item);
        }
        return taken;
    }
} // namespace detail

// Empties the list and deletes its elements at once. An element listed twice,
// or deleted with another one, is deleted once.
template <typename T, typename Owner> void clear(Owner* owner, QList<T*>& list, void (Owner::*changed)())
{
    for (const QPointer<T>& item : detail::take(owner, list)) {
        delete item.data();
    }
    emit(owner->*changed)();
}

// The clear of a QML list property. Qt assigns a whole list (and emulates an
// index assignment) by clearing it and appending the same raw pointers, so
// the list is emptied at once but its elements are deleted on the next turn
// of the event loop, unless they were appended again by then. Until then
// they stay Qt children of the owner, so nothing leaks.
template <typename T, typename Owner>
void clearFromQml(Owner* owner, QList<T*>& list, void (Owner::*changed)())
{
    const QList<QPointer<T>> dropped = detail::take(owner, list);
    QTimer::singleShot(0, owner, [owner, &list, dropped] {
        for (const QPointer<T>& item : dropped) {
            if (item && item->parent() == owner && !list.contains(item.data()))
                delete item.data();
        }
    });
    emit(owner->*changed)();
}

// Qt would emulate replace and removeLast by clearing and re-appending the
// whole list; they are left out.
template <typename T> QQmlListProperty<T> withoutEmulation(QQmlListProperty<T> list)
{
    list.replace = nullptr;
    list.removeLast = nullptr;
    return list;
}

} // namespace OwnedList
