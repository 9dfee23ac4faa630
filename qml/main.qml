import QtQuick 2.10
import QtQuick.Window 2.2
import QtQuick.Controls 2.3

ApplicationWindow {
    id: window
    width: 580
    height: 540
    visible: true
    title: qsTr("USB Tovel v%1").arg(appversion)
}
