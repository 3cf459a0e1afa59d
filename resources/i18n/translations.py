#!/usr/bin/env python3
"""Writes app_en.ts and app_zh.ts from the one table below.

Every user-visible text of the program is listed here with its Chinese
translation; run this script after adding texts, and commit the .ts files.
"""
import os
from xml.sax.saxutils import escape

# (context, English source, Chinese)
MESSAGES = [
    ("InitDialog", "Velqora", "Velqora"),
    ("InitDialog", "Close", "关闭"),
    ("InitDialog", "Event camera viewer and recorder", "事件相机查看与录制工具"),
    ("InitDialog", "Version: ", "版本："),
    ("MainWidget", "Velqora", "Velqora"),
    ("ShowImageForm", "ShowImageForm", "图像显示"),
    ("KvFilePathReminderForm", "Success", "成功"),
    ("KvFilePathReminderForm", "Warning", "警告"),
    ("KvFilePathReminderForm", "Error", "错误"),
    ("KvFilePathReminderForm", "Open Dir", "打开目录"),
    ("KVMessageBox", "Tips", "提示"),
]


def write(path, language, pick):
    contexts = {}
    for context, source, zh in MESSAGES:
        contexts.setdefault(context, []).append((source, pick(source, zh)))
    lines = ['<?xml version="1.0" encoding="utf-8"?>', "<!DOCTYPE TS>",
             f'<TS version="2.1" language="{language}" sourcelanguage="en_US">']
    for context in sorted(contexts):
        lines.append("<context>")
        lines.append(f"    <name>{context}</name>")
        for source, text in contexts[context]:
            lines.append("    <message>")
            lines.append(f"        <source>{escape(source)}</source>")
            lines.append(f"        <translation>{escape(text)}</translation>")
            lines.append("    </message>")
        lines.append("</context>")
    lines.append("</TS>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


here = os.path.dirname(os.path.abspath(__file__))
write(os.path.join(here, "app_en.ts"), "en_US", lambda en, zh: en)
write(os.path.join(here, "app_zh.ts"), "zh_CN", lambda en, zh: zh)
