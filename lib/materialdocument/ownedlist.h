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

// Clearing empties the list at once and deletes the elements on the next
// turn of the event loop, unless they were appended again by then: QML
// assigns a whole list by clearing it and appending the same pointers.
// Until then they stay Qt children of the owner, so nothing leaks.
template <typename T, typename Owner> void clear(Owner* owner, QList<T*>& list, void (Owner::*changed)())
{
    QList<QPointer<T>> dropped;
    for (T* item : std::exchange(list, {})) {
        QObject::disconnect(item, &QObject::destroyed, owner, nullptr);
        dropped.append(item);
    }
    QTimer::singleShot(0, owner, [owner, &list, dropped] {
        for (const QPointer<T>& item : dropped) {
            if (item && item->parent() == owner && !list.contains(item.data()))
                delete item.data();
        }
    });
    emit(owner->*changed)();
}

// The QML view of an owner's list. Qt would emulate replace and removeLast by
// clearing and re-appending the whole list; they are left out.
template <typename T, typename Owner, QList<T*> Owner::*List, void (Owner::*Changed)()>
QQmlListProperty<T> property(Owner* owner)
{
    using P = QQmlListProperty<T>;
    P list(
        owner, owner,
        [](P* p, T* item) {
            append(static_cast<Owner*>(p->data), static_cast<Owner*>(p->data)->*List, item, Changed);
        },
        [](P* p) { return (static_cast<Owner*>(p->data)->*List).size(); },
        [](P* p, int index) { return at(static_cast<Owner*>(p->data)->*List, index); },
        [](P* p) { clear(static_cast<Owner*>(p->data), static_cast<Owner*>(p->data)->*List, Changed); });
    list.replace = nullptr;
    list.removeLast = nullptr;
    return list;
}

} // namespace OwnedList
