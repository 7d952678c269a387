pragma Singleton
import QtQuick 2.15
import Veltrisan.NetToolItems 1.0

// The one printer item of the application; every caller addresses the newest printer (-1).
PelluxNetwork {
    id: pelluxNetwork

    onJsonAccepted: console.debug("String accepted by printer")
}
