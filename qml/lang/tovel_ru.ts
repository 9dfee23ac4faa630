<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>Logger</name>
    <message>
        <source>application started</source>
        <translation>приложение запущено</translation>
    </message>
    <message>
        <source>application closed</source>
        <translation>приложение закрыто</translation>
    </message>
    <message>
        <source>application is about to be closed</source>
        <translation>приложение будет закрыто</translation>
    </message>
</context>
</TS>
