<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>AppConfig</name>
    <message>
        <source>The settings file %1 is not a regular file (a pipe, a folder or a device): the defaults are in force and no setting will be saved.</source>
        <translation>The settings file %1 is not a regular file (a pipe, a folder or a device): the defaults are in force and no setting will be saved.</translation>
    </message>
    <message>
        <source>The settings file %1 has lines that cannot be read: their settings have their defaults, and the lines are dropped when the file is next written.</source>
        <translation>The settings file %1 has lines that cannot be read: their settings have their defaults, and the lines are dropped when the file is next written.</translation>
    </message>
    <message>
        <source>Some values in the settings file %1 could not be used; their defaults are in force: %2</source>
        <translation>Some values in the settings file %1 could not be used; their defaults are in force: %2</translation>
    </message>
</context>
<context>
    <name>CameraParameters</name>
    <message>
        <source>Contrast On</source>
        <translation>Contrast On</translation>
    </message>
    <message>
        <source>Contrast Off</source>
        <translation>Contrast Off</translation>
    </message>
    <message>
        <source>Noise Level</source>
        <translation>Noise Level</translation>
    </message>
    <message>
        <source>Refractory Period</source>
        <translation>Refractory Period</translation>
    </message>
    <message>
        <source>Pixel Gain</source>
        <translation>Pixel Gain</translation>
    </message>
    <message>
        <source>Channel %1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>Low Frequency</source>
        <translation>Low Frequency</translation>
    </message>
    <message>
        <source>High Frequency</source>
        <translation>High Frequency</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Band Stop</source>
        <translation>Band Stop</translation>
    </message>
    <message>
        <source>Band Pass</source>
        <translation>Band Pass</translation>
    </message>
    <message>
        <source>Max Event Rate</source>
        <translation>Max Event Rate</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>First Event</source>
        <translation>First Event</translation>
    </message>
    <message>
        <source>Polarity Change</source>
        <translation>Polarity Change</translation>
    </message>
    <message>
        <source>Threshold</source>
        <translation>Threshold</translation>
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
        <translation>Width</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>Exposure Time</source>
        <translation>Exposure Time</translation>
    </message>
    <message>
        <source>Analog Gain</source>
        <translation>Analog Gain</translation>
    </message>
</context>
<context>
    <name>CamerasList</name>
    <message>
        <source>CamerasList</source>
        <translation>CamerasList</translation>
    </message>
    <message>
        <source>Open a camera</source>
        <translation>Open a camera</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>Camera List</translation>
    </message>
    <message>
        <source>Search Cameras...</source>
        <translation>Search Cameras...</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
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
        <translation>Close</translation>
    </message>
    <message>
        <source>Event camera viewer and recorder</source>
        <translation>Event camera viewer and recorder</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>Version: </translation>
    </message>
</context>
<context>
    <name>KVMessageBox</name>
    <message>
        <source>Tips</source>
        <translation>Tips</translation>
    </message>
</context>
<context>
    <name>KvCutRawFile</name>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Start Time</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>End Time</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>Save File Path</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
</context>
<context>
    <name>KvEventProcessor</name>
    <message>
        <source>Cannot play %1: %2.</source>
        <translation>Cannot play %1: %2.</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>the file is empty</translation>
    </message>
    <message>
        <source>it is not a RAW recording</source>
        <translation>it is not a RAW recording</translation>
    </message>
    <message>
        <source>the file cannot be read</source>
        <translation>the file cannot be read</translation>
    </message>
    <message>
        <source>the recording holds no events</source>
        <translation>the recording holds no events</translation>
    </message>
    <message>
        <source>Export video success!</source>
        <translation>Export video success!</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>Export raw file success!</translation>
    </message>
    <message>
        <source>Export video failed.</source>
        <translation>Export video failed.</translation>
    </message>
    <message>
        <source>Cut recording failed.</source>
        <translation>Cut recording failed.</translation>
    </message>
    <message>
        <source>Export video cancelled.</source>
        <translation>Export video cancelled.</translation>
    </message>
    <message>
        <source>The start time is after the end time.</source>
        <translation>The start time is after the end time.</translation>
    </message>
    <message>
        <source>The recording has no events.</source>
        <translation>The recording has no events.</translation>
    </message>
    <message>
        <source>The range lies outside the recording (%1 to %2).</source>
        <translation>The range lies outside the recording (%1 to %2).</translation>
    </message>
    <message>
        <source>The target is the recording being played.</source>
        <translation>The target is the recording being played.</translation>
    </message>
    <message>
        <source>The folder does not exist.</source>
        <translation>The folder does not exist.</translation>
    </message>
    <message>
        <source>No events in the range, or the file cannot be written.</source>
        <translation>No events in the range, or the file cannot be written.</translation>
    </message>
    <message>
        <source>The frames file (.mp4) of %1 is missing or cannot be read: only its events are shown.</source>
        <translation>The frames file (.mp4) of %1 is missing or cannot be read: only its events are shown.</translation>
    </message>
    <message>
        <source>Please wait until the export or cut has finished.</source>
        <translation>Please wait until the export or cut has finished.</translation>
    </message>
    <message>
        <source>Cut recording cancelled.</source>
        <translation>Cut recording cancelled.</translation>
    </message>
    <message>
        <source>The recording cannot be read.</source>
        <translation>The recording cannot be read.</translation>
    </message>
    <message>
        <source>There are no events in the range.</source>
        <translation>There are no events in the range.</translation>
    </message>
    <message>
        <source>The target is a folder.</source>
        <translation>The target is a folder.</translation>
    </message>
    <message>
        <source>The target is a link, which is not written through.</source>
        <translation>The target is a link, which is not written through.</translation>
    </message>
    <message>
        <source>The target is not a regular file.</source>
        <translation>The target is not a regular file.</translation>
    </message>
    <message>
        <source>The target is the recording itself.</source>
        <translation>The target is the recording itself.</translation>
    </message>
    <message>
        <source>A recording is writing the target.</source>
        <translation>A recording is writing the target.</translation>
    </message>
    <message>
        <source>There is not enough memory.</source>
        <translation>There is not enough memory.</translation>
    </message>
    <message>
        <source>The disk is full.</source>
        <translation>The disk is full.</translation>
    </message>
    <message>
        <source>Permission denied.</source>
        <translation>Permission denied.</translation>
    </message>
    <message>
        <source>The disk is read-only.</source>
        <translation>The disk is read-only.</translation>
    </message>
    <message>
        <source>The disk reported an error.</source>
        <translation>The disk reported an error.</translation>
    </message>
    <message>
        <source>The file cannot be written.</source>
        <translation>The file cannot be written.</translation>
    </message>
    <message>
        <source>The file cannot be created: %1</source>
        <translation>The file cannot be created: %1</translation>
    </message>
    <message>
        <source>the file ends inside its header</source>
        <translation>the file ends inside its header</translation>
    </message>
    <message>
        <source>The folder cannot be written.</source>
        <translation>The folder cannot be written.</translation>
    </message>
</context>
<context>
    <name>KvExportVideoUI</name>
    <message>
        <source>Export a video</source>
        <translation>Export a video</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Start Time</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>End Time</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>Save File Path</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
</context>
<context>
    <name>KvFilePathReminderForm</name>
    <message>
        <source>Success</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>Open Dir</translation>
    </message>
</context>
<context>
    <name>KvFileRecorder</name>
    <message>
        <source>Recording file ... </source>
        <translation>Recording file ... </translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>Currently being recorded.</translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>Recording end</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>Recording failed: %1</translation>
    </message>
    <message>
        <source>The trigger cache could not be started in %1; trigger recordings hold only the seconds after the edge.</source>
        <translation>The trigger cache could not be started in %1; trigger recordings hold only the seconds after the edge.</translation>
    </message>
    <message>
        <source>Recording file ... without seconds before the trigger: the cache could not start.</source>
        <translation>Recording file ... without seconds before the trigger: the cache could not start.</translation>
    </message>
    <message>
        <source>Recording file ... with only %1 s of the %2 s before the trigger: the cache was still filling.</source>
        <translation>Recording file ... with only %1 s of the %2 s before the trigger: the cache was still filling.</translation>
    </message>
    <message>
        <source>Nothing to record: 0 seconds before and 0 seconds after the trigger.</source>
        <translation>Nothing to record: 0 seconds before and 0 seconds after the trigger.</translation>
    </message>
    <message>
        <source>the disk is full</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>the disk cannot keep up with the stream</source>
        <translation>the disk cannot keep up with the stream</translation>
    </message>
    <message>
        <source>the recording's file or folder was removed</source>
        <translation>the recording's file or folder was removed</translation>
    </message>
    <message>
        <source>a recording is already running</source>
        <translation>a recording is already running</translation>
    </message>
    <message>
        <source>the camera was unplugged</source>
        <translation>the camera was unplugged</translation>
    </message>
    <message>
        <source>the path is not a file</source>
        <translation>the path is not a file</translation>
    </message>
    <message>
        <source>the folder does not exist</source>
        <translation>the folder does not exist</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>the disk is read-only</source>
        <translation>the disk is read-only</translation>
    </message>
    <message>
        <source>the disk reported an error</source>
        <translation>the disk reported an error</translation>
    </message>
    <message>
        <source>the file cannot be written</source>
        <translation>the file cannot be written</translation>
    </message>
    <message>
        <source>the file cannot be created: %1</source>
        <translation>the file cannot be created: %1</translation>
    </message>
    <message>
        <source>%1 s before the trigger at the present %2/s need about %3, but the disk of %4 has only %5 free.</source>
        <translation>%1 s before the trigger at the present %2/s need about %3, but the disk of %4 has only %5 free.</translation>
    </message>
    <message>
        <source>The trigger cache was not started: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</source>
        <translation>The trigger cache was not started: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</translation>
    </message>
    <message>
        <source>The trigger cache was stopped: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</source>
        <translation>The trigger cache was stopped: %1 Trigger recordings hold only the seconds after the edge; lower the seconds before the trigger in General Settings.</translation>
    </message>
</context>
<context>
    <name>KvFusionCameraDataProcessor</name>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>Manual calibration parameters were written successfully!</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>Manual calibration parameters were written failed!</translation>
    </message>
    <message>
        <source>The frames file %1 is damaged or cut short: it ends %2 s before the events. Its last frame stays in view from there.</source>
        <translation>The frames file %1 is damaged or cut short: it ends %2 s before the events. Its last frame stays in view from there.</translation>
    </message>
    <message>
        <source>Cannot open the recording: %1</source>
        <translation>Cannot open the recording: %1</translation>
    </message>
    <message>
        <source>the frames file (.mp4) is missing or cannot be read</source>
        <translation>the frames file (.mp4) is missing or cannot be read</translation>
    </message>
    <message>
        <source>the frames file (.mp4) holds no frames</source>
        <translation>the frames file (.mp4) holds no frames</translation>
    </message>
    <message>
        <source>the events file (.raw) cannot be read</source>
        <translation>the events file (.raw) cannot be read</translation>
    </message>
    <message>
        <source>The calibration file cannot be read (%1); the default calibration is used.</source>
        <translation>The calibration file cannot be read (%1); the default calibration is used.</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>it is not a regular file</translation>
    </message>
    <message>
        <source>it is larger than a calibration file can be</source>
        <translation>it is larger than a calibration file can be</translation>
    </message>
    <message>
        <source>required members are missing</source>
        <translation>required members are missing</translation>
    </message>
    <message>
        <source>its event grid is larger than the view</source>
        <translation>its event grid is larger than the view</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>the disk reported an error</source>
        <translation>the disk reported an error</translation>
    </message>
    <message>
        <source>it is not a valid calibration file</source>
        <translation>it is not a valid calibration file</translation>
    </message>
</context>
<context>
    <name>KvGeneralSetting</name>
    <message>
        <source>General Settings</source>
        <translation>General Settings</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>Style</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>File Settings</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>Default Out Raw File Path</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>Default Video File Path</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>Trigger In File Save Settings</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>Trigger Edge</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>Rising Edge</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>Falling Edge</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>Before Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>After Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>Theme</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>Events Color</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
    <message>
        <source>The settings could not be saved to %1.</source>
        <translation>The settings could not be saved to %1.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Gray</source>
        <translation>Gray</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>Dark</translation>
    </message>
    <message>
        <source>RedBlue</source>
        <translation>RedBlue</translation>
    </message>
    <message>
        <source>RedGreen</source>
        <translation>RedGreen</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Light</translation>
    </message>
    <message>
        <source>At most %1 seconds before the trigger can be kept.</source>
        <translation>At most %1 seconds before the trigger can be kept.</translation>
    </message>
    <message>
        <source>At most %1 seconds after the trigger can be recorded.</source>
        <translation>At most %1 seconds after the trigger can be recorded.</translation>
    </message>
    <message>
        <source>Trigger-in recording needs at least one second before or after the trigger.</source>
        <translation>Trigger-in recording needs at least one second before or after the trigger.</translation>
    </message>
</context>
<context>
    <name>KvRangeFileDialog</name>
    <message>
        <source>The start and the end must be whole numbers of microseconds.</source>
        <translation>The start and the end must be whole numbers of microseconds.</translation>
    </message>
    <message>
        <source>The start must lie before the end.</source>
        <translation>The start must lie before the end.</translation>
    </message>
    <message>
        <source>The range must lie within the recording, %1 to %2 µs.</source>
        <translation>The range must lie within the recording, %1 to %2 µs.</translation>
    </message>
    <message>
        <source>Please name the file.</source>
        <translation>Please name the file.</translation>
    </message>
    <message>
        <source>The file name cannot contain /, \ or ..: choose the folder under Save File Path.</source>
        <translation>The file name cannot contain /, \ or ..: choose the folder under Save File Path.</translation>
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
        <translation>File</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Camera: </source>
        <translation>Camera: </translation>
    </message>
    <message>
        <source> | Time: </source>
        <translation> | Time: </translation>
    </message>
    <message>
        <source>Open Camera</source>
        <translation>Open Camera</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>Open Recording</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>Save as...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>General Setting</translation>
    </message>
    <message>
        <source>EN/中文</source>
        <translation>EN/中文</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>About us</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>Toggle Start/End Point</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>Play/Stop</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>Start/Stop recording</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>Previous frame</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Next frame</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>Reset the playback progress to the beginning</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>Select to automatically replay at the end of the playback</translation>
    </message>
    <message>
        <source>Select a raw file</source>
        <translation>Select a raw file</translation>
    </message>
    <message>
        <source>RAW files (*.raw)</source>
        <translation>RAW files (*.raw)</translation>
    </message>
    <message>
        <source>Go to Range Start</source>
        <translation>Go to Range Start</translation>
    </message>
    <message>
        <source>Go to Range End</source>
        <translation>Go to Range End</translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation>Full Screen</translation>
    </message>
    <message>
        <source>Recent recordings</source>
        <translation>Recent recordings</translation>
    </message>
    <message>
        <source>Event rate: %1</source>
        <translation>Event rate: %1</translation>
    </message>
    <message>
        <source>%1 no longer exists; it was removed from the recent recordings.</source>
        <translation>%1 no longer exists; it was removed from the recent recordings.</translation>
    </message>
    <message>
        <source>Start %1 | End %2 | Length %3</source>
        <translation>Start %1 | End %2 | Length %3</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>The language change will take effect after restart.</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>Is it open in the browser?</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> Bandwidth: </translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> Events: </translation>
    </message>
    <message>
        <source> Late: %1  Dropped: %2</source>
        <translation> Late: %1  Dropped: %2</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>Open camera: </translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>failed.</translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>Save file success!</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>Recording failed: %1</translation>
    </message>
    <message>
        <source>Camera connection lost.</source>
        <translation>Camera connection lost.</translation>
    </message>
    <message>
        <source>Please wait until the export or cut has finished.</source>
        <translation>Please wait until the export or cut has finished.</translation>
    </message>
    <message>
        <source>Cut recording failed.</source>
        <translation>Cut recording failed.</translation>
    </message>
    <message>
        <source>Export video failed.</source>
        <translation>Export video failed.</translation>
    </message>
    <message>
        <source>The target is the recording being played.</source>
        <translation>The target is the recording being played.</translation>
    </message>
    <message>
        <source>The target is a folder.</source>
        <translation>The target is a folder.</translation>
    </message>
    <message>
        <source>The file %1 already exists. Replace it?</source>
        <translation>The file %1 already exists. Replace it?</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Replace</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>Please open a raw file first.</translation>
    </message>
    <message>
        <source>The Quenta camera firmware needs to be upgraded!</source>
        <translation>The Quenta camera firmware needs to be upgraded!</translation>
    </message>
    <message>
        <source> Dropped frames: %1  Dropped periods: %2</source>
        <translation> Dropped frames: %1  Dropped periods: %2</translation>
    </message>
    <message>
        <source>  Dropped events: %1</source>
        <translation>  Dropped events: %1</translation>
    </message>
    <message>
        <source>the files cannot be created</source>
        <translation>the files cannot be created</translation>
    </message>
    <message>
        <source>not everything recorded reached the files</source>
        <translation>not everything recorded reached the files</translation>
    </message>
    <message>
        <source>Time: </source>
        <translation>Time: </translation>
    </message>
    <message>
        <source>A recording is running. Stop it? What was recorded so far is kept.</source>
        <translation>A recording is running. Stop it? What was recorded so far is kept.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>not reported</source>
        <translation>not reported</translation>
    </message>
    <message>
        <source>No camera is open: there is no camera information to show.</source>
        <translation>No camera is open: there is no camera information to show.</translation>
    </message>
    <message>
        <source>Recording refused: %1</source>
        <translation>Recording refused: %1</translation>
    </message>
    <message>
        <source>the folder %1 cannot be written</source>
        <translation>the folder %1 cannot be written</translation>
    </message>
    <message>
        <source>the disk holding %1 is full</source>
        <translation>the disk holding %1 is full</translation>
    </message>
    <message>
        <source>Display settings</source>
        <translation>Display settings</translation>
    </message>
    <message>
        <source>Event sensor (DVS) settings</source>
        <translation>Event sensor (DVS) settings</translation>
    </message>
    <message>
        <source>Frame sensor (APS) settings</source>
        <translation>Frame sensor (APS) settings</translation>
    </message>
    <message>
        <source>General settings</source>
        <translation>General settings</translation>
    </message>
    <message>
        <source>Velqora, version %1</source>
        <translation>Velqora, version %1</translation>
    </message>
    <message>
        <source>Event camera viewer and recorder by Korvane.</source>
        <translation>Event camera viewer and recorder by Korvane.</translation>
    </message>
    <message>
        <source>The about page (licence, program and settings files) opens in your browser.</source>
        <translation>The about page (licence, program and settings files) opens in your browser.</translation>
    </message>
    <message>
        <source>%1 cannot be opened: it is not a regular file; it was removed from the recent recordings.</source>
        <translation>%1 cannot be opened: it is not a regular file; it was removed from the recent recordings.</translation>
    </message>
    <message>
        <source>The settings could not be saved, so the language stays as it is.</source>
        <translation>The settings could not be saved, so the language stays as it is.</translation>
    </message>
    <message>
        <source>  Trigger recording armed: %1 s before, %2 s after</source>
        <translation>  Trigger recording armed: %1 s before, %2 s after</translation>
    </message>
    <message>
        <source>Please connect camera first.</source>
        <translation>Please connect camera first.</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Accumulation time</source>
        <translation>Accumulation time</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>Slow Rate</translation>
    </message>
</context>
<context>
    <name>SettingWriteBack</name>
    <message>
        <source>on</source>
        <translation>on</translation>
    </message>
    <message>
        <source>off</source>
        <translation>off</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2.</source>
        <translation>The camera refused %1 = %2.</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2 with the group's other values; it keeps %3.</source>
        <translation>The camera refused %1 = %2 with the group's other values; it keeps %3.</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>Firmware version :</translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>Manufacturer:</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>Serial :</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>Product: </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ShowImageForm</name>
    <message>
        <source>ShowImageForm</source>
        <translation>ShowImageForm</translation>
    </message>
</context>
<context>
    <name>SidebarApsSettingUI</name>
    <message>
        <source>APS Setting</source>
        <translation>APS Setting</translation>
    </message>
    <message>
        <source>APS</source>
        <translation>APS</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS Manual Calibration</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>Set aps offset x.</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>Set aps offset y.</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>Camera Setting</source>
        <translation>Camera Setting</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Display</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>DVS Setting</source>
        <translation>DVS Setting</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>Biases</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>Trigger In</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>Anti Flicker</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>Event Rate Control</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>Event Trail Filter</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>ROI</translation>
    </message>
    <message>
        <source>The camera refused %1 = %2 with the other ROI values (the region must lie on the sensor); it keeps %3.</source>
        <translation>The camera refused %1 = %2 with the other ROI values (the region must lie on the sensor); it keeps %3.</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>No usable home folder: the settings will not be saved.</source>
        <translation>No usable home folder: the settings will not be saved.</translation>
    </message>
    <message>
        <source>Some settings could not be used; their defaults are in force.</source>
        <translation>Some settings could not be used; their defaults are in force.</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>Indexing the recording: %1%</source>
        <translation>Indexing the recording: %1%</translation>
    </message>
</context>
</TS>
