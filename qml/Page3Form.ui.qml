import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3

Item {
    id: page3form

    property alias hideSwitch: hideSwitch
    property alias autostartSwitch: autostartSwitch
    property alias softwareSwitch: softwareSwitch
    property alias text1: text1
    property alias updateText: updateText
    property alias updateStatusView: updateStatusView
    property alias updateLink: updateLink
    property alias notesLink: notesLink
    property alias legacySwitch: legacySwitch
    property alias logSwitch: logSwitch
    property alias logSetupText: logSetupText
    property alias logViewText: logViewText
    property alias langCombo: langCombo
    property alias langWarn: langWarn

    // Plain qsTr() bindings only: they are looked up under this form's own translation context.
    readonly property string tipSoftwareOn: qsTr("Checked: use software rendering (less resource-demanding, ugly interface)")
    readonly property string tipSoftwareOff: qsTr("Unchecked: use OpenGL based rendering (resource-demanding)")
    readonly property string tipLegacyOn: qsTr("Enable in order to communicate with older Ostrel S (v2.2 and earlier)")
    readonly property string tipLegacyOff: qsTr("Disable for all newer devices")
    readonly property string textEnglish: qsTr("English")
    readonly property string textRussian: qsTr("Russian")

    ColumnLayout {
        id: columnLayout
        anchors.fill: parent
        anchors.margins: 10
        spacing: 24

        LinkText {
            id: text1
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            font.pixelSize: 15
            horizontalAlignment: Text.AlignHCenter
        }

        GridLayout {
            id: switchGrid
            columns: 4
            Layout.alignment: Qt.AlignHCenter

            Switch {
                id: autostartSwitch
                text: qsTr("Autostart")
                Layout.columnSpan: 2
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Checked: start the application automatically on boot")
            }

            Switch {
                id: hideSwitch
                text: qsTr("Hide on Startup")
                Layout.columnSpan: 2
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Checked: start the application minimized to system tray")
            }

            Switch {
                id: softwareSwitch
                text: qsTr("Software Rendering")
                Layout.columnSpan: 2
                ToolTip.visible: hovered
                ToolTip.text: tipSoftwareOn + "\n" + tipSoftwareOff
            }

            Switch {
                id: legacySwitch
                text: qsTr("Compatibility Mode")
                Layout.columnSpan: 2
                ToolTip.visible: hovered
                ToolTip.text: tipLegacyOn + "\n" + tipLegacyOff
            }

            Switch {
                id: logSwitch
                text: qsTr("Logging")
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Enable/Disable logging")
            }

            // The links keep their room while logging is off: turning it on
            // moves nothing.
            Item {
                implicitWidth: logSetupText.implicitWidth
                implicitHeight: logSetupText.implicitHeight

                LinkText {
                    id: logSetupText
                    visible: logSwitch.checked
                    font.pixelSize: 14
                }
            }

            Item {
                implicitWidth: logViewText.implicitWidth
                implicitHeight: logViewText.implicitHeight

                LinkText {
                    id: logViewText
                    visible: logSwitch.checked
                    font.pixelSize: 14
                }
            }
        }

        // The update status takes the space left; the links below it never
        // leave the page. A longer text than it holds scrolls.
        ColumnLayout {
            id: updateArea
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 2

            Flickable {
                id: updateStatusView
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                contentWidth: width
                contentHeight: updateText.y + updateText.height
                boundsBehavior: Flickable.StopAtBounds

                ScrollBar.vertical: ScrollBar {
                    id: updateScrollBar
                    policy: updateStatusView.contentHeight > updateStatusView.height
                            ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                }

                Text {
                    id: updateText
                    // Clear of the scroll bar on both sides, so it stays centred.
                    x: updateScrollBar.width
                    y: Math.max(0, (updateStatusView.height - height) / 2)
                    width: updateStatusView.width - 2 * updateScrollBar.width
                    wrapMode: Text.Wrap
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 14
                }
            }

            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                spacing: 24

                LinkText {
                    id: updateLink
                    font.pixelSize: 14
                }

                LinkText {
                    id: notesLink
                    visible: false
                    font.pixelSize: 14
                }
            }
        }

        RowLayout {
            id: langRow
            Layout.fillWidth: true
            spacing: 10

            Text {
                id: langWarn
                Layout.fillWidth: true
                text: ""
                color: "transparent"
                wrapMode: Text.WordWrap
                font.pixelSize: 14
            }

            Label {
                text: qsTr("Language")
            }

            FitComboBox {
                id: langCombo
                model: [textEnglish, textRussian]
            }
        }
    }
}
