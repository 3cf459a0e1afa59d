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
    <name>KVMessageBox</name>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
</context>
<context>
    <name>KvFilePathReminderForm</name>
    <message>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>打开目录</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Velqora</source>
        <translation>Velqora</translation>
    </message>
</context>
<context>
    <name>ShowImageForm</name>
    <message>
        <source>ShowImageForm</source>
        <translation>图像显示</translation>
    </message>
</context>
</TS>
