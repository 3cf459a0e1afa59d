<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>AppConfig</name>
    <message>
        <source>The settings file %1 is not a regular file (a pipe, a folder or a device): the defaults are in force and no setting will be saved.</source>
        <translation>设置文件 %1 不是普通文件（而是管道、文件夹或设备）：已使用默认设置，且不会保存任何设置。</translation>
    </message>
    <message>
        <source>The settings file %1 has lines that cannot be read: their settings have their defaults, and the lines are dropped when the file is next written.</source>
        <translation>设置文件 %1 中有无法读取的行：相应设置已使用默认值，这些行将在下次写入文件时被删除。</translation>
    </message>
    <message>
        <source>Some values in the settings file %1 could not be used; their defaults are in force: %2</source>
        <translation>设置文件 %1 中的部分值无法使用，已改用默认值：%2</translation>
    </message>
</context>
<context>
    <name>CameraParameters</name>
    <message>
        <source>Contrast On</source>
        <translation>正向对比度</translation>
    </message>
    <message>
        <source>Contrast Off</source>
        <translation>负向对比度</translation>
    </message>
    <message>
        <source>Noise Level</source>
        <translation>噪声水平</translation>
    </message>
    <message>
        <source>Refractory Period</source>
        <translation>不应期</translation>
    </message>
    <message>
        <source>Pixel Gain</source>
        <translation>像素增益</translation>
    </message>
    <message>
        <source>Channel %1</source>
        <translation>通道 %1</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Low Frequency</source>
        <translation>低频</translation>
    </message>
    <message>
        <source>High Frequency</source>
        <translation>高频</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>模式</translation>
    </message>
    <message>
        <source>Band Stop</source>
        <translation>带阻</translation>
    </message>
    <message>
        <source>Band Pass</source>
        <translation>带通</translation>
    </message>
    <message>
        <source>Max Event Rate</source>
        <translation>最大事件率</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>First Event</source>
        <translation>首个事件</translation>
    </message>
    <message>
        <source>Polarity Change</source>
        <translation>极性变化</translation>
    </message>
    <message>
        <source>Threshold</source>
        <translation>阈值</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Y</source>
        <translation>Y</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>宽度</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>高度</translation>
    </message>
    <message>
        <source>Exposure Time</source>
        <translation>曝光时间</translation>
    </message>
    <message>
        <source>Analog Gain</source>
        <translation>模拟增益</translation>
    </message>
</context>
<context>
    <name>CamerasList</name>
    <message>
        <source>CamerasList</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Open a camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Search Cameras...</source>
        <translation>搜索相机...</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>搜索</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
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
    <name>KvCutRawFile</name>
    <message>
        <source>Cut Recording</source>
        <translation>剪切录像</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>开始时间</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>结束时间</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>剪切</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
</context>
<context>
    <name>KvEventProcessor</name>
    <message>
        <source>Cannot play %1: %2.</source>
        <translation>无法播放 %1：%2。</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>文件为空</translation>
    </message>
    <message>
        <source>it is not a RAW recording</source>
        <translation>它不是 RAW 录像</translation>
    </message>
    <message>
        <source>the file cannot be read</source>
        <translation>无法读取该文件</translation>
    </message>
    <message>
        <source>the recording holds no events</source>
        <translation>该录像不含事件</translation>
    </message>
    <message>
        <source>Export video success!</source>
        <translation>导出视频成功！</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>导出RAW文件成功！</translation>
    </message>
    <message>
        <source>Export video failed.</source>
        <translation>导出视频失败。</translation>
    </message>
    <message>
        <source>Cut recording failed.</source>
        <translation>剪切录像失败。</translation>
    </message>
    <message>
        <source>Export video cancelled.</source>
        <translation>已取消导出视频。</translation>
    </message>
    <message>
        <source>The start time is after the end time.</source>
        <translation>开始时间晚于结束时间。</translation>
    </message>
    <message>
        <source>The recording has no events.</source>
        <translation>录像中没有事件。</translation>
    </message>
    <message>
        <source>The range lies outside the recording (%1 to %2).</source>
        <translation>范围超出录像（%1 至 %2）。</translation>
    </message>
    <message>
        <source>The target is the recording being played.</source>
        <translation>目标文件是正在播放的录像。</translation>
    </message>
    <message>
        <source>The folder does not exist.</source>
        <translation>文件夹不存在。</translation>
    </message>
    <message>
        <source>No events in the range, or the file cannot be written.</source>
        <translation>范围内没有事件，或文件无法写入。</translation>
    </message>
    <message>
        <source>The frames file (.mp4) of %1 is missing or cannot be read: only its events are shown.</source>
        <translation>%1 的帧文件（.mp4）缺失或无法读取：仅显示其事件。</translation>
    </message>
    <message>
        <source>Please wait until the export or cut has finished.</source>
        <translation>请等待导出或剪切完成。</translation>
    </message>
    <message>
        <source>Cut recording cancelled.</source>
        <translation>已取消剪切录像。</translation>
    </message>
    <message>
        <source>The recording cannot be read.</source>
        <translation>无法读取该录像。</translation>
    </message>
    <message>
        <source>There are no events in the range.</source>
        <translation>区间内没有事件。</translation>
    </message>
    <message>
        <source>The target is a folder.</source>
        <translation>目标是一个文件夹。</translation>
    </message>
    <message>
        <source>The target is a link, which is not written through.</source>
        <translation>目标是一个链接，不会经由链接写入。</translation>
    </message>
    <message>
        <source>The target is not a regular file.</source>
        <translation>目标不是普通文件。</translation>
    </message>
    <message>
        <source>The target is the recording itself.</source>
        <translation>目标就是该录像本身。</translation>
    </message>
    <message>
        <source>A recording is writing the target.</source>
        <translation>目标正被一个录制写入。</translation>
    </message>
    <message>
        <source>There is not enough memory.</source>
        <translation>内存不足。</translation>
    </message>
    <message>
        <source>The disk is full.</source>
        <translation>磁盘已满。</translation>
    </message>
    <message>
        <source>Permission denied.</source>
        <translation>权限不足。</translation>
    </message>
    <message>
        <source>The disk is read-only.</source>
        <translation>磁盘为只读。</translation>
    </message>
    <message>
        <source>The disk reported an error.</source>
        <translation>磁盘报告了错误。</translation>
    </message>
    <message>
        <source>The file cannot be written.</source>
        <translation>无法写入该文件。</translation>
    </message>
    <message>
        <source>The file cannot be created: %1</source>
        <translation>无法创建该文件：%1</translation>
    </message>
    <message>
        <source>the file ends inside its header</source>
        <translation>文件在文件头中途结束</translation>
    </message>
    <message>
        <source>The folder cannot be written.</source>
        <translation>无法写入该文件夹。</translation>
    </message>
</context>
<context>
    <name>KvExportVideoUI</name>
    <message>
        <source>Export a video</source>
        <translation>导出视频</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>开始时间</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>结束时间</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
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
    <name>KvFileRecorder</name>
    <message>
        <source>Recording file ... </source>
        <translation>正在录制文件 ... </translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>当前正在录制。</translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>录制结束</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>录制失败：%1</translation>
    </message>
    <message>
        <source>The trigger cache could not be started in %1; trigger recordings hold only the seconds after the edge.</source>
        <translation>无法在 %1 中启动触发缓存；触发录制只包含触发沿之后的数据。</translation>
    </message>
    <message>
        <source>Recording file ... without seconds before the trigger: the cache could not start.</source>
        <translation>正在录制文件...不含触发前的数据：缓存无法启动。</translation>
    </message>
    <message>
        <source>Recording file ... with only %1 s of the %2 s before the trigger: the cache was still filling.</source>
        <translation>正在录制文件...触发前仅有 %1 秒（设定为 %2 秒）：缓存仍在填充。</translation>
    </message>
    <message>
        <source>Nothing to record: 0 seconds before and 0 seconds after the trigger.</source>
        <translation>无可录制内容：触发前后均为 0 秒。</translation>
    </message>
    <message>
        <source>the disk is full</source>
        <translation>磁盘已满</translation>
    </message>
    <message>
        <source>the disk cannot keep up with the stream</source>
        <translation>磁盘写入速度跟不上数据流</translation>
    </message>
    <message>
        <source>the recording's file or folder was removed</source>
        <translation>录制文件或其文件夹已被删除</translation>
    </message>
    <message>
        <source>a recording is already running</source>
        <translation>已有录制正在进行</translation>
    </message>
    <message>
        <source>the camera was unplugged</source>
        <translation>相机已断开</translation>
    </message>
    <message>
        <source>the path is not a file</source>
        <translation>该路径不是文件</translation>
    </message>
    <message>
        <source>the folder does not exist</source>
        <translation>文件夹不存在</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>没有权限</translation>
    </message>
    <message>
        <source>the disk is read-only</source>
        <translation>磁盘为只读</translation>
    </message>
    <message>
        <source>the disk reported an error</source>
        <translation>磁盘报告错误</translation>
    </message>
    <message>
        <source>the file cannot be written</source>
        <translation>无法写入文件</translation>
    </message>
    <message>
        <source>the file cannot be created: %1</source>
        <translation>无法创建文件：%1</translation>
    </message>
    <message>
        <source>%1 s before the trigger at the present %2/s need about %3, but the disk of %4 has only %5 free.</source>
        <translation>以当前 %2/s 的速率，触发前 %1 秒约需 %3，但 %4 所在磁盘仅剩 %5 可用空间。</translation>
    </message>
    <message>
        <source>The trigger cache was not started: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</source>
        <translation>未启动触发缓存：%1 触发录制只包含触发沿之后的秒数；请在通用设置中减少触发前的秒数。</translation>
    </message>
    <message>
        <source>The trigger cache was stopped: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</source>
        <translation>已停止触发缓存：%1 触发录制只包含触发沿之后的秒数；请在通用设置中减少触发前的秒数。</translation>
    </message>
</context>
<context>
    <name>KvFusionCameraDataProcessor</name>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>手动标定参数写入成功！</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>手动标定参数写入失败！</translation>
    </message>
    <message>
        <source>The frames file %1 is damaged or cut short: it ends %2 s before the events. Its last frame stays in view from there.</source>
        <translation>帧文件 %1 已损坏或不完整：比事件早 %2 秒结束。此后一直显示它的最后一帧。</translation>
    </message>
    <message>
        <source>Cannot open the recording: %1</source>
        <translation>无法打开录制：%1</translation>
    </message>
    <message>
        <source>the frames file (.mp4) is missing or cannot be read</source>
        <translation>帧文件（.mp4）缺失或无法读取</translation>
    </message>
    <message>
        <source>the frames file (.mp4) holds no frames</source>
        <translation>帧文件（.mp4）中没有帧</translation>
    </message>
    <message>
        <source>the events file (.raw) cannot be read</source>
        <translation>事件文件（.raw）无法读取</translation>
    </message>
    <message>
        <source>The calibration file cannot be read (%1); the default calibration is used.</source>
        <translation>无法读取标定文件（%1），已使用默认标定。</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>它不是普通文件</translation>
    </message>
    <message>
        <source>it is larger than a calibration file can be</source>
        <translation>它超出了标定文件可能的大小</translation>
    </message>
    <message>
        <source>required members are missing</source>
        <translation>缺少必需的成员</translation>
    </message>
    <message>
        <source>its event grid is larger than the view</source>
        <translation>其事件网格大于视图</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>权限不足</translation>
    </message>
    <message>
        <source>the disk reported an error</source>
        <translation>磁盘报告了错误</translation>
    </message>
    <message>
        <source>it is not a valid calibration file</source>
        <translation>它不是有效的标定文件</translation>
    </message>
</context>
<context>
    <name>KvGeneralSetting</name>
    <message>
        <source>General Settings</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>样式</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>文件设置</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>默认 RAW 文件输出路径</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>默认视频文件路径</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>触发输入录制设置</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>触发沿</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>上升沿</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>下降沿</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>触发前保存时长（秒）：</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>触发后保存时长（秒）：</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>主题</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>事件颜色</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
    <message>
        <source>The settings could not be saved to %1.</source>
        <translation>无法将设置保存到 %1。</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Gray</source>
        <translation>灰色</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>深色</translation>
    </message>
    <message>
        <source>RedBlue</source>
        <translation>红蓝</translation>
    </message>
    <message>
        <source>RedGreen</source>
        <translation>红绿</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>浅色</translation>
    </message>
    <message>
        <source>At most %1 seconds before the trigger can be kept.</source>
        <translation>触发前最多只能保留 %1 秒。</translation>
    </message>
    <message>
        <source>At most %1 seconds after the trigger can be recorded.</source>
        <translation>触发后最多只能录制 %1 秒。</translation>
    </message>
    <message>
        <source>Trigger-in recording needs at least one second before or after the trigger.</source>
        <translation>触发录制至少需要在触发前或触发后保留一秒。</translation>
    </message>
</context>
<context>
    <name>KvRangeFileDialog</name>
    <message>
        <source>The start and the end must be whole numbers of microseconds.</source>
        <translation>起点和终点必须是以微秒为单位的整数。</translation>
    </message>
    <message>
        <source>The start must lie before the end.</source>
        <translation>起点必须早于终点。</translation>
    </message>
    <message>
        <source>The range must lie within the recording, %1 to %2 µs.</source>
        <translation>范围必须位于录像之内，即 %1 至 %2 µs。</translation>
    </message>
    <message>
        <source>Please name the file.</source>
        <translation>请填写文件名。</translation>
    </message>
    <message>
        <source>The file name cannot contain /, \ or ..: choose the folder under Save File Path.</source>
        <translation>文件名不能包含 /、\ 或 ..：请在“保存路径”中选择文件夹。</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Widget</source>
        <translation>Velqora</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Camera: </source>
        <translation>相机：</translation>
    </message>
    <message>
        <source> | Time: </source>
        <translation> | 时间：</translation>
    </message>
    <message>
        <source>Open Camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>打开录像</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>另存为...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>剪切录像</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>EN/中文</source>
        <translation>EN/中文</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>关于我们</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>切换起止点</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>播放/暂停</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>开始/停止录制</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>上一帧</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>下一帧</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>将播放进度重置到开头</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>勾选后在播放结束时自动重新播放</translation>
    </message>
    <message>
        <source>Select a raw file</source>
        <translation>选择 RAW 文件</translation>
    </message>
    <message>
        <source>RAW files (*.raw)</source>
        <translation>RAW 文件 (*.raw)</translation>
    </message>
    <message>
        <source>Go to Range Start</source>
        <translation>跳到区间起点</translation>
    </message>
    <message>
        <source>Go to Range End</source>
        <translation>跳到区间终点</translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation>全屏</translation>
    </message>
    <message>
        <source>Recent recordings</source>
        <translation>最近的录像</translation>
    </message>
    <message>
        <source>Event rate: %1</source>
        <translation>事件率：%1</translation>
    </message>
    <message>
        <source>%1 no longer exists; it was removed from the recent recordings.</source>
        <translation>%1 已不存在，已从最近的录像中移除。</translation>
    </message>
    <message>
        <source>Start %1 | End %2 | Length %3</source>
        <translation>起点 %1 | 终点 %2 | 时长 %3</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>语言切换将在重启后生效。</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>稍后</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>是否在浏览器中打开？</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> 带宽：</translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> 事件：</translation>
    </message>
    <message>
        <source> Late: %1  Dropped: %2</source>
        <translation> 延迟：%1  丢弃：%2</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>打开相机：</translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>失败。</translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>文件保存成功！</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>录制失败：%1</translation>
    </message>
    <message>
        <source>Camera connection lost.</source>
        <translation>相机连接已断开。</translation>
    </message>
    <message>
        <source>Please wait until the export or cut has finished.</source>
        <translation>请等待导出或剪切完成。</translation>
    </message>
    <message>
        <source>Cut recording failed.</source>
        <translation>剪切录像失败。</translation>
    </message>
    <message>
        <source>Export video failed.</source>
        <translation>导出视频失败。</translation>
    </message>
    <message>
        <source>The target is the recording being played.</source>
        <translation>目标文件是正在播放的录像。</translation>
    </message>
    <message>
        <source>The target is a folder.</source>
        <translation>目标是一个文件夹。</translation>
    </message>
    <message>
        <source>The file %1 already exists. Replace it?</source>
        <translation>文件 %1 已存在，是否替换？</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>替换</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>请先打开RAW文件。</translation>
    </message>
    <message>
        <source>The Quenta camera firmware needs to be upgraded!</source>
        <translation>Quenta 相机固件需要升级！</translation>
    </message>
    <message>
        <source> Dropped frames: %1  Dropped periods: %2</source>
        <translation> 丢弃帧：%1  丢弃周期：%2</translation>
    </message>
    <message>
        <source>  Dropped events: %1</source>
        <translation>  丢弃事件：%1</translation>
    </message>
    <message>
        <source>the files cannot be created</source>
        <translation>无法创建文件</translation>
    </message>
    <message>
        <source>not everything recorded reached the files</source>
        <translation>部分录制内容未能写入文件</translation>
    </message>
    <message>
        <source>Time: </source>
        <translation>时间：</translation>
    </message>
    <message>
        <source>A recording is running. Stop it? What was recorded so far is kept.</source>
        <translation>正在录制。要停止录制吗？已录制的内容会保留。</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>not reported</source>
        <translation>未提供</translation>
    </message>
    <message>
        <source>No camera is open: there is no camera information to show.</source>
        <translation>未打开相机：没有可显示的相机信息。</translation>
    </message>
    <message>
        <source>Recording refused: %1</source>
        <translation>拒绝录制：%1</translation>
    </message>
    <message>
        <source>the folder %1 cannot be written</source>
        <translation>无法写入文件夹 %1</translation>
    </message>
    <message>
        <source>the disk holding %1 is full</source>
        <translation>%1 所在的磁盘已满</translation>
    </message>
    <message>
        <source>Display settings</source>
        <translation>显示设置</translation>
    </message>
    <message>
        <source>Event sensor (DVS) settings</source>
        <translation>事件传感器（DVS）设置</translation>
    </message>
    <message>
        <source>Frame sensor (APS) settings</source>
        <translation>图像传感器（APS）设置</translation>
    </message>
    <message>
        <source>General settings</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>Velqora, version %1</source>
        <translation>Velqora，版本 %1</translation>
    </message>
    <message>
        <source>Event camera viewer and recorder by Korvane.</source>
        <translation>Korvane 出品的事件相机查看与录制工具。</translation>
    </message>
    <message>
        <source>The about page (licence, program and settings files) opens in your browser.</source>
        <translation>关于页面（许可、程序与设置文件）将在浏览器中打开。</translation>
    </message>
    <message>
        <source>%1 cannot be opened: it is not a regular file; it was removed from the recent recordings.</source>
        <translation>%1 无法打开：它不是普通文件，已从最近录像中移除。</translation>
    </message>
    <message>
        <source>The settings could not be saved, so the language stays as it is.</source>
        <translation>设置无法保存，语言保持不变。</translation>
    </message>
    <message>
        <source>  Trigger recording armed: %1 s before, %2 s after</source>
        <translation>  触发录制已就绪：触发前 %1 秒，触发后 %2 秒</translation>
    </message>
    <message>
        <source>Please connect camera first.</source>
        <translation>请先连接相机。</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Accumulation time</source>
        <translation>累积时间</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>慢放倍率</translation>
    </message>
</context>
<context>
    <name>SettingWriteBack</name>
    <message>
        <source>on</source>
        <translation>开</translation>
    </message>
    <message>
        <source>off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2.</source>
        <translation>相机拒绝了 %1 = %2。</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2 with the group's other values; it keeps %3.</source>
        <translation>相机拒绝了 %1 = %2 与本组其他值的组合，仍保持 %3。</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Form</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>制造商：</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>产品：</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>ShowImageForm</name>
    <message>
        <source>ShowImageForm</source>
        <translation>图像显示</translation>
    </message>
</context>
<context>
    <name>SidebarApsSettingUI</name>
    <message>
        <source>APS Setting</source>
        <translation>APS 设置</translation>
    </message>
    <message>
        <source>APS</source>
        <translation>APS</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS 手动标定</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>设置 APS 的 X 偏移。</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>设置 APS 的 Y 偏移。</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>Camera Setting</source>
        <translation>相机设置</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>DVS Setting</source>
        <translation>DVS 设置</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>偏置</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>触发输入</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>抗闪烁</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>事件率控制</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>事件拖尾滤波</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>感兴趣区域</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2 with the other ROI values (the region must lie on the sensor); it keeps %3.</source>
        <translation>相机拒绝了 %1 = %2 与其他 ROI 值的组合（区域必须位于传感器之内），仍保持 %3。</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>No usable home folder: the settings will not be saved.</source>
        <translation>没有可用的主文件夹：设置将不会被保存。</translation>
    </message>
    <message>
        <source>Some settings could not be used; their defaults are in force.</source>
        <translation>部分设置无效，已改用默认值。</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>Indexing the recording: %1%</source>
        <translation>正在建立录像索引：%1%</translation>
    </message>
</context>
</TS>
