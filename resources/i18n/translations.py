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
    ("MainWidget", "Widget", "Velqora"),
    ("MainWidget", "File", "文件"),
    ("MainWidget", "Device", "设备"),
    ("MainWidget", "Setting", "设置"),
    ("MainWidget", "Help", "帮助"),
    ("MainWidget", "Bandwidth: Mbps", "带宽：Mbps"),
    ("MainWidget", "Camera: ", "相机："),
    ("MainWidget", " | Time: ", " | 时间："),
    ("MainWidget", "Open Camera", "打开相机"),
    ("MainWidget", "Camera Info", "相机信息"),
    ("MainWidget", "Open Recording", "打开录像"),
    ("MainWidget", "Save as...", "另存为..."),
    ("MainWidget", "Cut Recording", "剪切录像"),
    ("MainWidget", "Quit", "退出"),
    ("MainWidget", "General Setting", "通用设置"),
    ("MainWidget", "EN/中文", "EN/中文"),
    ("MainWidget", "About us", "关于我们"),
    ("MainWidget", "Toggle Start/End Point", "切换起止点"),
    ("MainWidget", "Play/Stop", "播放/暂停"),
    ("MainWidget", "Start/Stop recording", "开始/停止录制"),
    ("MainWidget", "Previous frame", "上一帧"),
    ("MainWidget", "Next frame", "下一帧"),
    ("MainWidget", "Reset the playback progress to the beginning", "将播放进度重置到开头"),
    ("MainWidget", "Select to automatically replay at the end of the playback",
     "勾选后在播放结束时自动重新播放"),
    ("MainWidget", "Select a raw file", "选择 RAW 文件"),
    ("MainWidget", "RAW files (*.raw)", "RAW 文件 (*.raw)"),
    ("MainWidget", "Go to Range Start", "跳到区间起点"),
    ("MainWidget", "Go to Range End", "跳到区间终点"),
    ("MainWidget", "Full Screen", "全屏"),
    ("MainWidget", "Recent recordings", "最近的录像"),
    ("MainWidget", "Event rate: %1", "事件率：%1"),
    ("MainWidget", "%1 no longer exists; it was removed from the recent recordings.",
     "%1 已不存在，已从最近的录像中移除。"),
    ("MainWidget", "Start %1 | End %2 | Length %3", "起点 %1 | 终点 %2 | 时长 %3"),
    ("KvEventProcessor", "Cannot play %1: %2.", "无法播放 %1：%2。"),
    ("KvEventProcessor", "the file is empty", "文件为空"),
    ("KvEventProcessor", "it is not a RAW recording", "它不是 RAW 录像"),
    ("KvEventProcessor", "the file cannot be read", "无法读取该文件"),
    ("KvEventProcessor", "the recording holds no events", "该录像不含事件"),
    ("WaitingWin", "Indexing the recording: %1%", "正在建立录像索引：%1%"),
    ("ShowImageForm", "ShowImageForm", "图像显示"),
    ("KvFilePathReminderForm", "Success", "成功"),
    ("KvFilePathReminderForm", "Warning", "警告"),
    ("KvFilePathReminderForm", "Error", "错误"),
    ("KvFilePathReminderForm", "Open Dir", "打开目录"),
    ("KVMessageBox", "Tips", "提示"),
    # Side bar, settings panels and the general settings dialog.
    ("MainWidget", "Tips", "提示"),
    ("MainWidget", "The language change will take effect after restart.", "语言切换将在重启后生效。"),
    ("MainWidget", "Restart", "重启"),
    ("MainWidget", "Later", "稍后"),
    ("MainWidget", "Is it open in the browser?", "是否在浏览器中打开？"),
    ("MainWidget", "Open", "打开"),
    ("MainWidget", "Close", "关闭"),
    ("SidebarDvsSettingUI", "DVS Setting", "DVS 设置"),
    ("SidebarDvsSettingUI", "Biases", "偏置"),
    ("SidebarDvsSettingUI", "Trigger In", "触发输入"),
    ("SidebarDvsSettingUI", "Anti Flicker", "抗闪烁"),
    ("SidebarDvsSettingUI", "Event Rate Control", "事件率控制"),
    ("SidebarDvsSettingUI", "Event Trail Filter", "事件拖尾滤波"),
    ("SidebarDvsSettingUI", "ROI", "感兴趣区域"),
    ("SidebarApsSettingUI", "APS Setting", "APS 设置"),
    ("SidebarApsSettingUI", "APS", "APS"),
    ("SidebarApsSettingUI", "APS Manual Calibration", "APS 手动标定"),
    ("SidebarApsSettingUI", "Set aps offset x.", "设置 APS 的 X 偏移。"),
    ("SidebarApsSettingUI", "Set aps offset y.", "设置 APS 的 Y 偏移。"),
    ("SidebarApsSettingUI", "Apply", "应用"),
    ("SidebarCameraSettingUI", "Camera Setting", "相机设置"),
    ("SidebarCameraSettingUI", "Display", "显示"),
    ("SettingDisplayItem", "Accumulation time", "累积时间"),
    ("SettingDisplayItem", "Slow Rate", "慢放倍率"),
    ("KvGeneralSetting", "General Settings", "通用设置"),
    ("KvGeneralSetting", "File", "文件"),
    ("KvGeneralSetting", "Style", "样式"),
    ("KvGeneralSetting", "File Settings", "文件设置"),
    ("KvGeneralSetting", "Default Out Raw File Path", "默认 RAW 文件输出路径"),
    ("KvGeneralSetting", "Default Video File Path", "默认视频文件路径"),
    ("KvGeneralSetting", "...", "..."),
    ("KvGeneralSetting", "Trigger In File Save Settings", "触发输入录制设置"),
    ("KvGeneralSetting", "Enable", "启用"),
    ("KvGeneralSetting", "Trigger Edge", "触发沿"),
    ("KvGeneralSetting", "Rising Edge", "上升沿"),
    ("KvGeneralSetting", "Falling Edge", "下降沿"),
    ("KvGeneralSetting", "Before Trigger In Save Time (sec):", "触发前保存时长（秒）："),
    ("KvGeneralSetting", "After Trigger In Save Time (sec):", "触发后保存时长（秒）："),
    ("KvGeneralSetting", "Theme", "主题"),
    ("KvGeneralSetting", "Events Color", "事件颜色"),
    ("KvGeneralSetting", "Cancel", "取消"),
    ("KvGeneralSetting", "Save", "保存"),
    ("MainWidget", " Bandwidth: ", " 带宽："),
    ("MainWidget", " MB/s ", " MB/s "),
    ("MainWidget", " Events: ", " 事件："),
    ("MainWidget", " MEv/s ", " MEv/s "),
    ("MainWidget", " Late: %1  Dropped: %2", " 延迟：%1  丢弃：%2"),
    ("MainWidget", "Open camera: ", "打开相机："),
    ("MainWidget", "failed.", "失败。"),
    ("MainWidget", "Save file success!", "文件保存成功！"),
    ("MainWidget", "Recording failed: %1", "录制失败：%1"),
    ("MainWidget", "Camera connection lost.", "相机连接已断开。"),
    ("KvFileRecorder", "Recording file ... ", "正在录制文件 ... "),
    ("KvFileRecorder", "Currently being recorded.", "当前正在录制。"),
    ("KvFileRecorder", "Recording end", "录制结束"),
    ("KvFileRecorder", "Recording failed: %1", "录制失败：%1"),
    ("CamerasList", "CamerasList", "相机列表"),
    ("CamerasList", "Open a camera", "打开相机"),
    ("CamerasList", "Camera List", "相机列表"),
    ("CamerasList", "Search Cameras...", "搜索相机..."),
    ("CamerasList", "Search", "搜索"),
    ("CamerasList", "Open", "打开"),
    ("CamerasList", "Close", "关闭"),
    ("KvGeneralSetting", "Select Directory", "选择目录"),
    ("KvExportVideoUI", "Export a video", "导出视频"),
    ("KvExportVideoUI", "Start Time", "开始时间"),
    ("KvExportVideoUI", "End Time", "结束时间"),
    ("KvExportVideoUI", "Save File Path", "保存路径"),
    ("KvExportVideoUI", "File Name", "文件名"),
    ("KvExportVideoUI", "Export", "导出"),
    ("KvExportVideoUI", "Cancel", "取消"),
    ("KvExportVideoUI", "Select Directory", "选择目录"),
    ("KvCutRawFile", "Cut Recording", "剪切录像"),
    ("KvCutRawFile", "Start Time", "开始时间"),
    ("KvCutRawFile", "End Time", "结束时间"),
    ("KvCutRawFile", "Save File Path", "保存路径"),
    ("KvCutRawFile", "File Name", "文件名"),
    ("KvCutRawFile", "Cut", "剪切"),
    ("KvCutRawFile", "Cancel", "取消"),
    ("KvCutRawFile", "Select Directory", "选择目录"),
    ("KvEventProcessor", "Export video success!", "导出视频成功！"),
    ("KvEventProcessor", "Export raw file success!", "导出RAW文件成功！"),
    ("KvEventProcessor", "Export video failed.", "导出视频失败。"),
    ("KvEventProcessor", "Cut recording failed.", "剪切录像失败。"),
    ("KvEventProcessor", "Export video cancelled.", "已取消导出视频。"),
    ("KvEventProcessor", "The start time is after the end time.", "开始时间晚于结束时间。"),
    ("KvEventProcessor", "The recording has no events.", "录像中没有事件。"),
    ("KvEventProcessor", "The range lies outside the recording (%1 to %2).",
     "范围超出录像（%1 至 %2）。"),
    ("KvEventProcessor", "The target is the recording being played.", "目标文件是正在播放的录像。"),
    ("KvEventProcessor", "The folder does not exist.", "文件夹不存在。"),
    ("KvEventProcessor", "No events in the range, or the file cannot be written.",
     "范围内没有事件，或文件无法写入。"),
    ("MainWidget", "Please wait until the export or cut has finished.", "请等待导出或剪切完成。"),
    ("MainWidget", "Cut recording failed.", "剪切录像失败。"),
    ("MainWidget", "Export video failed.", "导出视频失败。"),
    ("MainWidget", "The target is the recording being played.", "目标文件是正在播放的录像。"),
    ("MainWidget", "The target is a folder.", "目标是一个文件夹。"),
    ("MainWidget", "The file %1 already exists. Replace it?", "文件 %1 已存在，是否替换？"),
    ("MainWidget", "Replace", "替换"),
    ("MainWidget", "Cancel", "取消"),
    ("MainWidget", "Please open a raw file first.", "请先打开RAW文件。"),
    ("KvGeneralSetting", "The settings could not be saved to %1.", "无法将设置保存到 %1。"),
    ("KvGeneralSetting", "OK", "确定"),
]


def write(path, language, pick):
    contexts = {}
    for context, source, zh in MESSAGES:
        contexts.setdefault(context, []).append((source, pick(source, zh, context)))
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
# English shows the source text, except where the source is a placeholder name.
ENGLISH_OVERRIDES = {("MainWidget", "Widget"): "Velqora"}
write(os.path.join(here, "app_en.ts"), "en_US",
      lambda en, zh, ctx=None: ENGLISH_OVERRIDES.get((ctx, en), en))
write(os.path.join(here, "app_zh.ts"), "zh_CN", lambda en, zh, ctx=None: zh)
