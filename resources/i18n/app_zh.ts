<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>InitDialog</name>
    <message>
        <source>Velqora</source>
        <translation>Velqora</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Event camera viewer and recorder</source>
        <translation>事件相机查看与录制工具</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>版本：</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Velqora</source>
        <translation>Velqora</translation>
    </message>
</context>
</TS>
