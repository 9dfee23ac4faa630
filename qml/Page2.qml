import QtQuick 2.10

Item {
}
