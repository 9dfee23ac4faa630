import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Extras 1.4
import QtQuick.Controls.Material 2.1

Item {
    id: page1Form
    width: 580
    height: 492

    property color ctrl_background: "#f4f4f4"
    // Tool tips joined from two texts: each text is its own plain binding so
    // that the translation catalogue reaches it.
    readonly property string tipSuspendOn: qsTr("Checked: Timer suspended, device is inactive")
    readonly property string tipSuspendOff: qsTr("Unchecked: Timer is running, device is active (the default)")
    readonly property string tipLedOn: qsTr("Checked: Green led on the device is enabled")
    readonly property string tipLedOff: qsTr("Unchecked: green led is disabled")

    property alias flickable: flickable
    property alias portsCombo: portsCombo
    property alias scanbtn: scanbtn
    property alias statusIndicator: statusIndicator
    property alias watcherGroup: watcherGroup
    property alias urlGroup: urlGroup
    property alias urlCheckBox: urlCheckBox
    property alias urlField: urlField
    property alias urlFieldMouse: urlFieldMouse
    property alias monitorGroup: monitorGroup
    property alias monitorCheckBox: monitorCheckBox
    property alias monitorField: monitorField
    property alias monFieldMouse: monFieldMouse
    property alias processListTool: processListTool
    property alias groupContol: groupContol
    property alias groupContolBox: groupContolBox
    property alias controlGrid: controlGrid
    property alias label_info: label_info
    property alias checkBox_p: checkBox_p
    property alias remote_btn_m1: remote_btn_m1
    property alias remote_btn_m2: remote_btn_m2
    property alias checkBox_l: checkBox_l
    property alias ch1Switch: ch1Switch
    property alias ch2Switch: ch2Switch
    property alias get_in_label: get_in_label
    property alias pingTimeoutLabel: pingTimeoutLabel
    property alias pingTimeoutSlider: pingTimeoutSlider
    property alias pingTimeoutText: pingTimeoutText

    Flickable {
        id: flickable
        anchors.fill: parent
        clip: true
        contentWidth: width
        contentHeight: pane.height
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
        }

        Pane {
            id: pane
            width: flickable.width
            height: Math.max(flickable.height, implicitHeight)
            padding: 8

            ColumnLayout {
                id: pageColumn
                anchors.fill: parent
                spacing: 4

                GroupBox {
                    id: portGroup
                    Layout.fillWidth: true
                    topPadding: 6
                    bottomPadding: 6

                    RowLayout {
                        anchors.fill: parent
                        spacing: 8

                        PortComboBox {
                            id: portsCombo
                            Layout.fillWidth: true
                        }

                        Button {
                            id: scanbtn
                            text: qsTr("Scan")
                            checkable: false
                        }

                        StatusIndicator {
                            id: statusIndicator
                            color: "#2aff00"
                            active: false
                            Layout.preferredWidth: 28
                            Layout.preferredHeight: 28
                            Layout.leftMargin: 4
                            Layout.rightMargin: 4
                        }
                    }
                }

                GroupBox {
                    id: watcherGroup
                    Layout.fillWidth: true
                    topPadding: 6
                    bottomPadding: 6

                    RowLayout {
                        anchors.fill: parent
                        spacing: 8

                        GroupBox {
                            id: urlGroup
                            topPadding: padding + implicitLabelHeight + spacing
                            bottomPadding: padding
                            padding: 2
                            spacing: 2
                            Layout.fillWidth: true
                            Layout.preferredWidth: 100
                            Layout.fillHeight: true
                            Layout.preferredHeight: monitorGroup.implicitHeight
                            label: CheckBox {
                                id: urlCheckBox
                                text: qsTr("Network Monitoring")
                                checked: false
                            }

                            RowLayout {
                                anchors.fill: parent
                                spacing: 2

                                TextField {
                                    id: urlField
                                    text: qsTr("disabled")
                                    Layout.fillWidth: true
                                    Layout.minimumWidth: 60
                                    leftPadding: 8
                                    bottomPadding: 2
                                    enabled: urlCheckBox.checked
                                    selectByMouse: true
                                    background: Rectangle {
                                        implicitWidth: 227
                                        implicitHeight: 40
                                        color: urlField.activeFocus ? "transparent" : "white"
                                        border.color: urlField.activeFocus ? "transparent" : urlField.Material.accent
                                    }

                                    MouseArea {
                                        id: urlFieldMouse
                                        anchors.fill: parent
                                        acceptedButtons: Qt.RightButton
                                    }
                                }
                            }
                        }

                        GroupBox {
                            id: monitorGroup
                            topPadding: padding + implicitLabelHeight + spacing
                            bottomPadding: padding
                            padding: 2
                            spacing: 2
                            Layout.fillWidth: true
                            Layout.preferredWidth: 100
                            Layout.fillHeight: true
                            label: CheckBox {
                                id: monitorCheckBox
                                text: qsTr("Process Monitoring")
                                checked: false
                            }

                            RowLayout {
                                anchors.fill: parent
                                spacing: 2

                                TextField {
                                    id: monitorField
                                    text: ""
                                    Layout.fillWidth: true
                                    Layout.minimumWidth: 60
                                    leftPadding: 8
                                    bottomPadding: 2
                                    enabled: monitorCheckBox.checked
                                    selectByMouse: true
                                    background: Rectangle {
                                        implicitWidth: 227
                                        implicitHeight: 40
                                        color: monitorField.activeFocus ? "transparent" : "white"
                                        border.color: monitorField.activeFocus ? "transparent" : monitorField.Material.accent
                                    }

                                    MouseArea {
                                        id: monFieldMouse
                                        anchors.fill: parent
                                        acceptedButtons: Qt.RightButton
                                    }
                                }

                                ToolButton {
                                    id: processListTool
                                    icon.source: "ic_view_list_black.png"
                                    enabled: monitorCheckBox.checked
                                    hoverEnabled: true
                                    ToolTip.visible: hovered
                                    ToolTip.delay: 500
                                    ToolTip.text: qsTr("Select from the list of currently running processes")
                                }
                            }
                        }
                    }
                }

                GroupBox {
                    id: groupContol
                    topPadding: padding + implicitLabelHeight + spacing
                    bottomPadding: padding
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    padding: 2
                    spacing: 2
                    label: CheckBox {
                        id: groupContolBox
                        text: qsTr("Manual Control")
                        checked: false
                    }
                    background: Rectangle {
                        y: groupContol.topPadding - groupContol.bottomPadding
                        width: parent.width
                        height: parent.height - groupContol.topPadding + groupContol.bottomPadding
                        radius: 2
                        color: page1Form.ctrl_background
                        border.color: groupContol.Material.frameColor
                    }

                    GridLayout {
                        id: controlGrid
                        anchors.fill: parent
                        columns: 3
                        rowSpacing: 2
                        columnSpacing: 2
                        enabled: groupContolBox.checked

                        Rectangle {
                            color: "white"
                            Layout.columnSpan: 2
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 44
                            Layout.preferredWidth: 2

                            Label {
                                id: label_info
                                anchors.fill: parent
                                anchors.margins: 4
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                                wrapMode: Text.WordWrap
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 44
                            Layout.preferredWidth: 1

                            CellSwitch {
                                id: checkBox_p
                                anchors.centerIn: parent
                                text: qsTr("Suspend")
                                hoverEnabled: true
                                ToolTip.visible: hovered
                                ToolTip.delay: 500
                                ToolTip.text: tipSuspendOn + "\n" + tipSuspendOff
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 52
                            Layout.preferredWidth: 1

                            Button {
                                id: remote_btn_m1
                                anchors.centerIn: parent
                                text: qsTr("Remote Reset")
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 52
                            Layout.preferredWidth: 1

                            Button {
                                id: remote_btn_m2
                                anchors.centerIn: parent
                                text: qsTr("Remote Power")
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 52
                            Layout.preferredWidth: 1

                            CellSwitch {
                                id: checkBox_l
                                anchors.centerIn: parent
                                text: qsTr("Green LED")
                                hoverEnabled: true
                                ToolTip.visible: hovered
                                ToolTip.delay: 500
                                ToolTip.text: tipLedOn + "\n" + tipLedOff
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 44
                            Layout.preferredWidth: 1

                            CellSwitch {
                                id: ch1Switch
                                anchors.centerIn: parent
                                text: qsTr("CH1 Open")
                                checked: false
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 44
                            Layout.preferredWidth: 1

                            CellSwitch {
                                id: ch2Switch
                                anchors.centerIn: parent
                                text: qsTr("CH2 Open")
                            }
                        }

                        Rectangle {
                            color: "white"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.minimumHeight: 44
                            Layout.preferredWidth: 1

                            Label {
                                id: get_in_label
                                anchors.fill: parent
                                text: qsTr("n/a")
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                        }

                        RowLayout {
                            Layout.columnSpan: 3
                            Layout.fillWidth: true
                            Layout.leftMargin: 6
                            Layout.rightMargin: 6
                            spacing: 6

                            Label {
                                id: pingTimeoutLabel
                                text: qsTr("Ping Timeout:")
                                color: urlCheckBox.checked ? "black" : page1Form.ctrl_background
                            }

                            Slider {
                                id: pingTimeoutSlider
                                Layout.fillWidth: true
                                from: 200
                                to: 2500
                                stepSize: 10
                                snapMode: Slider.SnapAlways
                                value: 1000

                                background: Rectangle {
                                    x: pingTimeoutSlider.leftPadding
                                    y: pingTimeoutSlider.topPadding + pingTimeoutSlider.availableHeight / 2 - height / 2
                                    implicitWidth: 200
                                    implicitHeight: 4
                                    width: pingTimeoutSlider.availableWidth
                                    height: implicitHeight
                                    radius: 2
                                    color: urlCheckBox.checked ? "grey" : page1Form.ctrl_background

                                    Rectangle {
                                        width: pingTimeoutSlider.visualPosition * parent.width
                                        height: parent.height
                                        radius: 2
                                        color: urlCheckBox.checked ? pingTimeoutSlider.Material.accent : page1Form.ctrl_background
                                    }
                                }

                                handle: Rectangle {
                                    x: pingTimeoutSlider.leftPadding + pingTimeoutSlider.visualPosition
                                       * (pingTimeoutSlider.availableWidth - width)
                                    y: pingTimeoutSlider.topPadding + pingTimeoutSlider.availableHeight / 2 - height / 2
                                    implicitWidth: 20
                                    implicitHeight: 20
                                    radius: 12
                                    color: urlCheckBox.checked ? pingTimeoutSlider.Material.accent : page1Form.ctrl_background
                                    border.color: urlCheckBox.checked ? "grey" : page1Form.ctrl_background
                                }
                            }

                            Label {
                                id: pingTimeoutText
                                Layout.minimumWidth: 60
                                horizontalAlignment: Text.AlignRight
                                color: urlCheckBox.checked ? "black" : page1Form.ctrl_background
                            }
                        }
                    }
                }
            }
        }
    }
}
