import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1
import QtQuick.Layouts 1.3
import Tovel3 1.0

ListView {
    id: sysProcList

    property alias sysProcModel: procModel
    property color itemBackground: Material.background
    property color tableBackground: "white"

    signal selectProcess(var name, var owner)

    // The current row is marked while the list has the focus; arrows move it,
    // Enter, Return or Space pick it.
    readonly property bool drawsOwnFocus: true

    spacing: 5
    focus: true
    activeFocusOnTab: true
    keyNavigationEnabled: true

    Keys.onPressed: {
        if (event.key !== Qt.Key_Space && event.key !== Qt.Key_Return
                && event.key !== Qt.Key_Enter)
            return
        event.accepted = true
        if (currentItem && !event.isAutoRepeat)
            sysProcList.selectProcess(currentItem.processName, currentItem.processOwner)
    }
    model: SystemProcessModel {
        id: procModel
    }

    ScrollBar.vertical: ScrollBar {
        id: vScroll
    }

    delegate: Rectangle {
        id: card

        readonly property string processName: model.pname
        readonly property string processOwner: model.powner
        readonly property bool marked: ListView.isCurrentItem && sysProcList.activeFocus

        width: sysProcList.width - vScroll.width
        height: grid.height + 10
        border.width: marked ? 3 : 1
        border.color: marked ? Material.accent : Material.primary
        radius: 1
        color: sysProcList.itemBackground

        MouseArea {
            anchors.fill: parent
            onClicked: sysProcList.selectProcess(processName, processOwner)
        }

        GridLayout {
            id: grid

            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.leftMargin: 5
            anchors.rightMargin: 2
            anchors.topMargin: 5
            anchors.bottomMargin: 2
            columns: 4
            rowSpacing: 2
            columnSpacing: 2

            RowLayout {
                Layout.columnSpan: 4
                Layout.fillWidth: true
                spacing: 2

                Label {
                    Layout.fillWidth: true
                    Layout.minimumHeight: 30
                    verticalAlignment: Text.AlignVCenter
                    textFormat: Text.RichText
                    text: "<b>%1</b>".arg(model.pname)
                    background: Rectangle { color: sysProcList.tableBackground }
                }

                Item {
                    Layout.preferredWidth: 30
                    Layout.minimumHeight: 30

                    Rectangle {
                        id: statusSquare
                        objectName: "statusSquare"

                        anchors.centerIn: parent
                        width: 20
                        height: 20
                        border.width: 1
                        border.color: "black"
                        color: model.pstat === SystemProcessModel.NotResponding ? "red" : "green"
                        visible: model.pstat !== SystemProcessModel.Unknown

                        MouseArea {
                            id: statusHover

                            anchors.fill: parent
                            hoverEnabled: true
                            acceptedButtons: Qt.NoButton
                        }

                        ToolTip.visible: statusHover.containsMouse
                        ToolTip.text: model.pstat === SystemProcessModel.NotResponding
                                      ? qsTr("Stopped / Dead") : qsTr("Running")
                    }
                }
            }

            Label {
                Layout.fillWidth: true
                Layout.minimumHeight: 30
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
                text: qsTr("Processes:")
                background: Rectangle { color: sysProcList.tableBackground }
            }

            Label {
                Layout.minimumWidth: 100
                Layout.minimumHeight: 30
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                textFormat: Text.RichText
                text: "<b>%1</b>".arg(model.pcount)
                background: Rectangle { color: sysProcList.tableBackground }
            }

            Label {
                Layout.minimumHeight: 30
                verticalAlignment: Text.AlignVCenter
                text: model.pmem >= 0 ? qsTr("Memory:") : ""
                background: Rectangle { color: sysProcList.tableBackground }
            }

            Label {
                Layout.minimumWidth: 100
                Layout.minimumHeight: 30
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                textFormat: Text.RichText
                text: model.pmem >= 0 ? "<b>%1</b>".arg(model.pmem) : ""
                background: Rectangle { color: sysProcList.tableBackground }
            }

            Label {
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.minimumHeight: 30
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WrapAnywhere
                text: model.powner !== "" ? "%1 (%2)".arg(model.ppath).arg(model.powner) : model.ppath
                background: Rectangle { color: sysProcList.tableBackground }
            }
        }
    }
}
