import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Controls.Material 2.1

Item {
    id: page2form

    property alias t1Box: t1Box
    property alias t2Box: t2Box
    property alias t3Box: t3Box
    property alias t4Box: t4Box
    property alias t5Box: t5Box
    property alias p6Box: p6Box
    property alias p7Box: p7Box
    property alias p8Box: p8Box
    property alias p9Box: p9Box
    property alias p10spinBox: p10spinBox
    property alias t1Group: t1Group
    property alias t2Group: t2Group
    property alias t3Group: t3Group
    property alias channelGroup: channelGroup
    property alias tempGroup: tempGroup
    property alias readbutton: readbutton
    property alias writebutton: writebutton

    // Plain qsTr() bindings only: they are looked up under this form's own translation context.
    readonly property string textMin: qsTr("min")
    readonly property string textMs: qsTr("ms")
    readonly property string textS: qsTr("s")
    readonly property string textOff: qsTr("OFF")
    readonly property string textReset: qsTr("RESET")
    readonly property string textPower: qsTr("POWER")
    readonly property string textOutOpened: qsTr("OUT OPENED")
    readonly property string textOutClosed: qsTr("OUT CLOSED")
    readonly property string textInput: qsTr("INPUT")
    readonly property string textOutput: qsTr("OUTPUT")
    readonly property string textTemp: qsTr("TEMP")
    readonly property string unitMin: " " + textMin
    readonly property string unitMs: " " + textMs
    readonly property string unitS: " " + textS
    Flickable {
        id: flickable
        anchors.fill: parent
        clip: true
        contentWidth: width
        contentHeight: pane.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        Pane {
            id: pane
            width: flickable.width

            ColumnLayout {
                id: column
                anchors.left: parent.left
                anchors.right: parent.right
                spacing: 8

                GroupBox {
                    id: t1Group
                    Layout.fillWidth: true

                    RowLayout {
                        anchors.fill: parent
                        spacing: 10

                        Label {
                            text: qsTr("PC will be restarted if there has been<br>no signal from the app for")
                            textFormat: Text.StyledText
                        }

                        FitComboBox {
                            id: t1Box
                            Layout.fillWidth: true
                        }
                    }
                }

                GroupBox {
                    id: t2Group
                    Layout.fillWidth: true

                    RowLayout {
                        anchors.fill: parent
                        spacing: 10

                        Label {
                            text: qsTr("When restarting the PC, hold the reset button for")
                        }

                        FitComboBox {
                            id: t2Box
                            Layout.fillWidth: true
                        }
                    }
                }

                GroupBox {
                    id: t3Group
                    Layout.fillWidth: true

                    GridLayout {
                        anchors.fill: parent
                        columns: 4
                        columnSpacing: 10

                        Label {
                            text: qsTr("Hard reset sequence: hold the power button for")
                            Layout.columnSpan: 3
                        }

                        FitComboBox {
                            id: t3Box
                            Layout.fillWidth: true
                        }

                        Label {
                            text: qsTr("release, wait")
                        }

                        FitComboBox {
                            id: t4Box
                            Layout.fillWidth: true
                        }

                        Label {
                            text: qsTr(", press the button for")
                        }

                        FitComboBox {
                            id: t5Box
                            Layout.fillWidth: true
                        }
                    }
                }

                RowLayout {
                    id: lowerRow
                    Layout.fillWidth: true
                    spacing: 8

                    ColumnLayout {
                        id: leftColumn
                        Layout.minimumWidth: 270
                        Layout.alignment: Qt.AlignTop

                        GroupBox {
                            id: channelGroup
                            Layout.fillWidth: true

                            GridLayout {
                                anchors.fill: parent
                                columns: 2
                                columnSpacing: 10

                                Label {
                                    text: qsTr("CH1")
                                }

                                FitComboBox {
                                    id: p6Box
                                    Layout.fillWidth: true
                                }

                                Label {
                                    text: qsTr("CH2")
                                }

                                FitComboBox {
                                    id: p7Box
                                    Layout.fillWidth: true
                                }
                            }
                        }

                        RowLayout {
                            id: buttonRow
                            Layout.fillWidth: true
                            spacing: 4

                            Button {
                                id: readbutton
                                text: qsTr("Read")
                                Layout.fillWidth: true
                                Layout.preferredWidth: (buttonRow.width - buttonRow.spacing) / 2
                                background: Rectangle {
                                    implicitWidth: 64
                                    implicitHeight: 36
                                    radius: 2
                                    color: !readbutton.enabled ? readbutton.Material.buttonDisabledColor : readbutton.pressed ? Qt.darker(readbutton.Material.buttonColor, 1.15) : readbutton.Material.buttonColor
                                }
                                contentItem: Text {
                                    text: readbutton.text
                                    textFormat: Text.StyledText
                                    font: readbutton.font
                                    color: readbutton.enabled ? readbutton.Material.foreground : readbutton.Material.hintTextColor
                                    horizontalAlignment: Text.AlignHCenter
                                    verticalAlignment: Text.AlignVCenter
                                    elide: Text.ElideRight
                                }
                            }

                            Button {
                                id: writebutton
                                text: qsTr("Write")
                                Layout.fillWidth: true
                                Layout.preferredWidth: (buttonRow.width - buttonRow.spacing) / 2
                                background: Rectangle {
                                    implicitWidth: 64
                                    implicitHeight: 36
                                    radius: 2
                                    color: !writebutton.enabled ? writebutton.Material.buttonDisabledColor : writebutton.pressed ? Qt.darker(writebutton.Material.buttonColor, 1.15) : writebutton.Material.buttonColor
                                }
                                contentItem: Text {
                                    text: writebutton.text
                                    textFormat: Text.StyledText
                                    font: writebutton.font
                                    color: writebutton.enabled ? writebutton.Material.foreground : writebutton.Material.hintTextColor
                                    horizontalAlignment: Text.AlignHCenter
                                    verticalAlignment: Text.AlignVCenter
                                    elide: Text.ElideRight
                                }
                            }
                        }
                    }

                    GroupBox {
                        id: tempGroup
                        Layout.fillWidth: true
                        Layout.alignment: Qt.AlignTop

                        GridLayout {
                            anchors.fill: parent
                            columns: 2
                            columnSpacing: 10

                            Label {
                                text: qsTr("Reset Limit")
                            }

                            FitComboBox {
                                id: p8Box
                                Layout.fillWidth: true
                            }

                            Label {
                                text: qsTr("IN Channel")
                            }

                            FitComboBox {
                                id: p9Box
                                Layout.fillWidth: true
                            }

                            Label {
                                text: qsTr("Temperature\nThreshold")
                            }

                            SpinBox {
                                id: p10spinBox
                                Layout.fillWidth: true
                                from: 0
                                to: 125
                                stepSize: 1
                                value: 0
                                editable: true
                            }
                        }
                    }
                }
            }
        }
    }
}
