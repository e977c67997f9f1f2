#include "tasks/TextTable.h"

#include "platform/Ascii.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <utility>

namespace duplora {
namespace {

// The maker's name and web address: entries 41 and 43 of every table, shown in the about box.
constexpr std::string_view kMakerName = "Duplora Project";
constexpr std::string_view kMakerWebAddress = "https://duplora.example.org";

using TextArray = std::array<std::string_view, kTextCount>;

// The three tables, entry number in the comment. Leading and trailing blanks and the "&" before
// an accelerator letter are part of the texts: callers append a name or a path directly to
// entries such as 46 "Start task: " or 47 "Failed to create target file, path: ".
// Several entries repeat others on purpose (21 = 12, 97 = 5, 100 = 45, 88 = 87, and in the
// Chinese tables 110 = 78, 115 = 92, 116 = 93): each number stays, because callers use them in
// different places.

constexpr TextArray kEnglish = {
    /*   0 */ "Duplora",
    /*   1 */ "&Task List",
    /*   2 */ "New Task",
    /*   3 */ "Delete Task",
    /*   4 */ "Task &Name:",
    /*   5 */ "&Auto Mode",
    /*   6 */ "&Host Folder",
    /*   7 */ "&Mirror Folder",
    /*   8 */ "Browse",
    /*   9 */ "&Include sub-folder",
    /*  10 */ "Exclude folders",
    /*  11 */ "Add",
    /*  12 */ "Delete",
    /*  13 */ "File synchro options",
    /*  14 */ "Only exist in host folder:",
    /*  15 */ "Only exist in mirror folder:",
    /*  16 */ "Same time but file size differ:",
    /*  17 */ "Newer file in host folder:",
    /*  18 */ "Newer file in mirror folder:",
    /*  19 */ "Empty folder:",
    /*  20 */ "Ignore",
    /*  21 */ "Delete",
    /*  22 */ "Host -> Mirror",
    /*  23 */ "Host <- Mirror",
    /*  24 */ "Go Sync",
    /*  25 */ "Exit",
    /*  26 */ "New Task ",
    /*  27 */ "Prompt",
    /*  28 */ "Task changed, save it or not?",
    /*  29 */ "Select mirror folder",
    /*  30 */ "Select host folder",
    /*  31 */ "Error",
    /*  32 */ "Invalid Host folder or Mirror folder.",
    /*  33 */ "No operation specified.",
    /*  34 */ "Select folder",
    /*  35 */ "Invalid folder! Selected folder is neither in host nor in mirror!",
    /*  36 */ "Invalid folder! Neither host folder nor mirror folder can be excluded!",
    /*  37 */ "Operation failed! Too many exclude folders!",
    /*  38 */ "Don't display preview window and result dialog.",
    /*  39 */ "About",
    /*  40 */ "Developer:",
    /*  41 */ kMakerName,
    /*  42 */ "Web Site:",
    /*  43 */ kMakerWebAddress,
    /*  44 */ "Synchronizing",
    /*  45 */ "&Cancel",
    /*  46 */ "Start task: ",
    /*  47 */ "Failed to create target file, path: ",
    /*  48 */ "Failed to open source file, path: ",
    /*  49 */ "Break copying, path: ",
    /*  50 */ "Error when copying file, path: ",
    /*  51 */ "Total: %1 bytes finish, %2 bytes remain",
    /*  52 */ "Failed to delete file, path: ",
    /*  53 */ "Analyzing host folder...",
    /*  54 */ "Analyzing mirror folder...",
    /*  55 */ "No file need to be synchronized!",
    /*  56 */ "Following operations will be done:",
    /*  57 */ "Host folder -> Mirror folder: %1 files",
    /*  58 */ "Host folder <- Mirror folder: %1 files",
    /*  59 */ "Delete file(s) in host folder: %1",
    /*  60 */ "Delete file(s) in mirror folder: %1",
    /*  61 */ "Synchronize empty folder: %1",
    /*  62 */ "  Do you want to continue?",
    /*  63 */ "User cancel the task!",
    /*  64 */ "Synchronizing...",
    /*  65 */ "Performing: ",
    /*  66 */ "Synchronizing empty folder...",
    /*  67 */ "User break the task!",
    /*  68 */ "Too many errors, task stopped!",
    /*  69 */ "Task finish!",
    /*  70 */ "Task result:",
    /*  71 */ "Failed to synchronize: %1",
    /*  72 */ "Warning",
    /*  73 */ "Task is running, stop it or not?",
    /*  74 */ "Result",
    /*  75 */ "&Close",
    /*  76 */ "Task description...",
    /*  77 */ "Sync Management",
    /*  78 */ "Folders",
    /*  79 */ "Filename",
    /*  80 */ "Size(Mirror)",
    /*  81 */ "Time(Mirror)",
    /*  82 */ "&Sync Now",
    /*  83 */ "Transmit File: %1(%2 bytes)",
    /*  84 */ "Del Host File: %1",
    /*  85 */ "Del Mirror File: %1",
    /*  86 */ "Sync Empty Folder: %1",
    /*  87 */ "0",
    /*  88 */ "0",
    /*  89 */ "Size(Host)",
    /*  90 */ "Time(Host)",
    /*  91 */ "Create folder tree... ",
    /*  92 */ "Select &All",
    /*  93 */ "&Clear Selection",
    /*  94 */ "&Ignore files",
    /*  95 */ "D&elete files",
    /*  96 */ "&Zipped files",
    /*  97 */ "&Auto Mode",
    /*  98 */ "&Defaults",
    /*  99 */ "&Ok",
    /* 100 */ "&Cancel",
    /* 101 */ "Too many files!",
    /* 102 */ "Advanced Options",
    /* 103 */ "Advanced &Options",
    /* 104 */ "No task is selected!",
    /* 105 */ "Net Password:",
    /* 106 */ "Net Username:",
    /* 107 */ "Max Speed(KB/s):",
    /* 108 */ "Invalid net path, or Username, Password error!",
    /* 109 */ "Sync Type:",
    /* 110 */ "Folder",
    /* 111 */ "File",
    /* 112 */ "Some properties may lose, Continue or Not?",
    /* 113 */ "File List",
    /* 114 */ "Copy Task",
    /* 115 */ "Check &All",
    /* 116 */ "&Clear Check",
    /* 117 */ "Only Sync Files",
    /* 118 */ "Host-->Mirror",
    /* 119 */ "Host<--Mirror",
    /* 120 */ "Max Errors",
    /* 121 */ "Only include following sub-folders",
    /* 122 */ "Add sub-folder",
    /* 123 */ "Please select task first!",
    /* 124 */ "Ignore one hour time difference (adapting summer time)",
    /* 125 */ "Ignore time shift (second):",
    /* 126 */ "Task Schedule",
    /* 127 */ "Task Name:",
    /* 128 */ "Perform Sync:",
    /* 129 */ "Time:",
    /* 130 */ "Repeat time:",
    /* 131 */ "(-1 indicate no limit)",
    /* 132 */ "Sunday",
    /* 133 */ "Monday",
    /* 134 */ "Tuesday",
    /* 135 */ "Wednesday",
    /* 136 */ "Thursday",
    /* 137 */ "Friday",
    /* 138 */ "Saturday",
    /* 139 */ "Add Task",
    /* 140 */ "Del Task",
    /* 141 */ " Day",
    /* 142 */ "Schedule ",
    /* 143 */ "Next time: ",
    /* 144 */ "Schedule name already exists!",
    /* 145 */ "Invalid time value!",
    /* 146 */ "Interval",
    /* 147 */ "Every Day",
    /* 148 */ "Every Week",
    /* 149 */ "",
    /* 150 */
    "Duplora.cfg was changed by another program after it was loaded here. Overwrite those changes "
    "with the tasks of this window?",
    /* 151 */ "",
    /* 152 */ "",
    /* 153 */ "",
    /* 154 */ "",
    /* 155 */ "",
    /* 156 */ "",
    /* 157 */ "",
    /* 158 */ "",
    /* 159 */ "",
    /* 160 */
    "Another scheduler runs the schedules of this configuration; this window starts none.",
    /* 161 */ "Invalid input value.  Use escape key to abandon changes",
    /* 162 */ "",
    /* 163 */ "",
    /* 164 */ "",
    /* 165 */ "",
    /* 166 */ "",
    /* 167 */ "",
    /* 168 */ "",
    /* 169 */ "",
    /* 170 */ "",
    /* 171 */ "",
    /* 172 */ "",
    /* 173 */ "",
    /* 174 */ "",
    /* 175 */ "",
    /* 176 */ "",
    /* 177 */ "",
    /* 178 */ "",
    /* 179 */ "",
    /* 180 */
    "Run refused: the folder %1 does not exist, and running would delete every file on the other "
    "side.",
    /* 181 */ "Host folder and mirror folder are the same folder: %1",
    /* 182 */
    "The folder %1 lies inside the other folder of this task and is left out of the scan. "
    "Continue?",
    /* 183 */ "Files: %1 of %2",
    /* 184 */ "Speed: %1/s",
    /* 185 */ "Time left: %1",
    /* 186 */ "This file:",
    /* 187 */ "All files:",
    /* 188 */ "Tasks saved.",
    /* 189 */ "Show all files",
    /* 190 */ "Hide files without an operation",
    /* 191 */ "The host folder does not exist: %1",
    /* 192 */ "",
    /* 193 */ "",
    /* 194 */ "",
    /* 195 */ "",
    /* 196 */ "",
    /* 197 */ "",
    /* 198 */ "",
    /* 199 */ "",
    /* 200 */
    "No versioning folder is given: enter one, or choose another place for deleted files.",
    /* 201 */ "The versioning folder is the host or mirror folder itself: %1",
    /* 202 */
    "The versioning folder lies inside the host or mirror folder: %1. Give a folder relative to "
    "each side instead (for example \"versions\"), or one outside both.",
    /* 203 */ "The versioning folder holds the host or mirror folder: %1",
    /* 204 */ "The versioning folder must not contain \"..\": %1",
    /* 205 */ "The versioning folder passes through a link or a file: %1",
    /* 206 */
    "Stopped: the run would delete or replace %1 of %2 files of the host (%3%) and %4 of %5 files "
    "of the mirror (%6%), above the task's limit of %7%",
    /* 207 */ "Failed to move file to the trash, left as it is (%1), path: ",
    /* 208 */ "Failed to move file to the versioning folder, left as it is (%1), path: ",
    /* 209 */ "no trash folder can be used on this volume",
    /* 210 */ "Host: %1 of %2 files deleted (%3%)",
    /* 211 */ "Mirror: %1 of %2 files deleted (%3%)",
    /* 212 */ "Deleted and replaced files:",
    /* 213 */ "Delete permanently",
    /* 214 */ "Move to the trash",
    /* 215 */ "Move to a versioning folder",
    /* 216 */ "Versioning folder:",
    /* 217 */ "Delete limit (%, 0 = none):",
    /* 218 */
    "A run without a window stops before any file operation when it would delete or replace "
    "more than this share of the files of either folder.",
    /* 219 */ "The versioning folder may be at most %1 bytes long; this one has %2.",
    /* 220 */ "Moved files: %1",
    /* 221 */ "Detect &moved and renamed files",
    /* 222 */ "Move File: %1",
    /* 223 */ "Comparing moved files...",
    /* 224 */ "Failed to move file, path: ",
    /* 225 */ "Move",
    /* 226 */ "Smallest moved file (KB):",
    /* 227 */ "moved from %1",
    /* 228 */ "moved to %1",
    /* 229 */ "",
    /* 230 */ "Names that differ only in letter case, left alone: ",
    /* 231 */ "",
    /* 232 */ "",
    /* 233 */ "",
    /* 234 */ "",
    /* 235 */ "",
    /* 236 */ "",
    /* 237 */ "Removed a temporary file left by an interrupted copy, path: ",
    /* 238 */ "Source file changed while it was copied, not copied, path: ",
    /* 239 */ "File changed since the scan, left as it is, path: ",
    /* 240 */ "Started by: the window",
    /* 241 */ "Started by: the command line",
    /* 242 */ "Started by: schedule %1",
    /* 243 */ "Started by: the console",
    /* 244 */ "Last run %1: %2",
    /* 245 */ "copied %1, deleted %2, moved %3, failed %4",
    /* 246 */ "Not run yet",
    /* 247 */ "Next scheduled run: %1",
    /* 248 */ "Open",
    /* 249 */ "Run ticked tasks",
    /* 250 */ "Pause schedules",
    /* 251 */ "Resume schedules",
    /* 252 */ "Quit",
    /* 253 */ "Copy to the mirror",
    /* 254 */ "Copy to the host",
    /* 255 */ "Delete from the host",
    /* 256 */ "Delete from the mirror",
    /* 257 */ "Delete from the host: the only copy",
    /* 258 */ "Delete from the mirror: the only copy",
    /* 259 */ "Leave as it is",
    /* 260 */
    "Over the delete limit: the run would delete or replace %1 of %2 files of the host (%3%) and "
    "%4 of %5 files of the mirror (%6%); the task's limit is %7%. Synchronize anyway?",
    /* 261 */
    "This share has no trash: \"Move to the trash\" would fail for every file of %1. Choose the "
    "versioning folder instead.",
    /* 262 */ "Mirror backup",
    /* 263 */ "Two-way",
    /* 264 */ "no limit",
    /* 265 */ "A scheduled run failed: %1",
    /* 266 */ "Schedules paused",
    /* 267 */ "Host folder -> Mirror folder: 1 file",
    /* 268 */ "Host folder <- Mirror folder: 1 file",
    /* 269 */ "Started by: auto mode",
};

constexpr TextArray kSimplifiedChinese = {
    /*   0 */ "Duplora",
    /*   1 */ "任务列表",
    /*   2 */ "新建任务",
    /*   3 */ "删除任务",
    /*   4 */ "任务名称(&N):",
    /*   5 */ "自动模式",
    /*   6 */ "源文件夹(&H)",
    /*   7 */ "镜像文件夹(&M)",
    /*   8 */ "浏览",
    /*   9 */ "包含子文件夹(&S)",
    /*  10 */ "排除文件夹",
    /*  11 */ "添加",
    /*  12 */ "删除",
    /*  13 */ "操作选项",
    /*  14 */ "仅源文件夹中存在的文件:",
    /*  15 */ "仅镜像文件夹中存在的文件:",
    /*  16 */ "时间相同尺寸不同的文件:",
    /*  17 */ "源文件夹中较新的文件:",
    /*  18 */ "镜像文件夹中较新的文件:",
    /*  19 */ "空的文件夹:",
    /*  20 */ "忽略",
    /*  21 */ "删除",
    /*  22 */ "源文件夹 -> 镜像文件夹",
    /*  23 */ "源文件夹 <- 镜像文件夹",
    /*  24 */ "开始同步",
    /*  25 */ "退出",
    /*  26 */ "新任务",
    /*  27 */ "提示",
    /*  28 */ "任务被改变，是否需要保存？",
    /*  29 */ "请选择镜像文件夹",
    /*  30 */ "请选择源文件夹",
    /*  31 */ "错误",
    /*  32 */ "源文件夹或镜像文件夹无效，请修正。",
    /*  33 */ "尚未指定任何同步操作。",
    /*  34 */ "请选择文件夹",
    /*  35 */ "无效文件夹，此文件夹不包含在源文件夹和镜像文件夹中！",
    /*  36 */ "无效文件夹，不能排除整个源文件夹和镜像文件夹！",
    /*  37 */ "操作失败，不能添加更多的排除文件夹！",
    /*  38 */ "执行任务过程中不显示预览窗口和结果对话框",
    /*  39 */ "关于",
    /*  40 */ "出品:",
    /*  41 */ kMakerName,
    /*  42 */ "主页:",
    /*  43 */ kMakerWebAddress,
    /*  44 */ "正在同步",
    /*  45 */ "取消(&C)",
    /*  46 */ "开始同步任务:",
    /*  47 */ "创建目标文件出错，路径:",
    /*  48 */ "打开源文件出错，路径:",
    /*  49 */ "复制被中止，路径:",
    /*  50 */ "复制文件出错，路径:",
    /*  51 */ "总计: 完成%1字节，剩余%2字节",
    /*  52 */ "删除文件失败，路径: ",
    /*  53 */ "正在分析源文件夹......",
    /*  54 */ "正在分析镜像文件夹......",
    /*  55 */ "没有文件需要同步！",
    /*  56 */ "本次任务将会执行如下操作:",
    /*  57 */ "源文件夹 -> 镜像文件夹: %1 个文件",
    /*  58 */ "源文件夹 <- 镜像文件夹: %1 个文件",
    /*  59 */ "删除主目录中的文件: %1 个",
    /*  60 */ "删除镜像文件夹中的文件: %1 个",
    /*  61 */ "同步空的文件夹: %1 个",
    /*  62 */ "  是否继续？",
    /*  63 */ "用户放弃同步！",
    /*  64 */ "正在同步文件......",
    /*  65 */ "正在执行:",
    /*  66 */ "正在同步空文件夹......",
    /*  67 */ "用户中止同步任务！",
    /*  68 */ "达到最大错误数，同步任务中止！",
    /*  69 */ "同步任务执行完毕！",
    /*  70 */ "任务执行结果:",
    /*  71 */ "操作失败的文件数: %1",
    /*  72 */ "警告",
    /*  73 */ "同步正在进行，是否中止同步任务？",
    /*  74 */ "同步结果",
    /*  75 */ "关闭(&C)",
    /*  76 */ "请在此输入本任务的描述......",
    /*  77 */ "同步文件管理",
    /*  78 */ "文件夹",
    /*  79 */ "文件名",
    /*  80 */ "大小(镜像)",
    /*  81 */ "时间(镜像)",
    /*  82 */ "立即同步",
    /*  83 */ "复制文件: %1(%2 字节)",
    /*  84 */ "删除源文件: %1",
    /*  85 */ "删除镜像文件: %1",
    /*  86 */ "同步空文件夹: %1",
    /*  87 */ "0",
    /*  88 */ "0",
    /*  89 */ "大小(源)",
    /*  90 */ "时间(源)",
    /*  91 */ "正在生成文件夹树... ",
    /*  92 */ "全选(&A)",
    /*  93 */ "清除(&C)",
    /*  94 */ "忽略以下文件",
    /*  95 */ "删除以下文件",
    /*  96 */ "已压缩的文件",
    /*  97 */ "自动模式",
    /*  98 */ "默认值(&D)",
    /*  99 */ "确定(&O)",
    /* 100 */ "取消(&C)",
    /* 101 */ "太多文件类型！",
    /* 102 */ "高级选项",
    /* 103 */ "高级选项(&O)",
    /* 104 */ "请先选择任务!",
    /* 105 */ "网络密码:",
    /* 106 */ "网络用户名:",
    /* 107 */ "速度限制(KB/s):",
    /* 108 */ "网络路径无效, 或用户名、密码错误!",
    /* 109 */ "同步类型:",
    /* 110 */ "文件夹",
    /* 111 */ "文件",
    /* 112 */ "改变同步类型将导致部分属性丢失，是否继续？",
    /* 113 */ "文件列表",
    /* 114 */ "复制任务",
    /* 115 */ "全选(&A)",
    /* 116 */ "清除(&C)",
    /* 117 */ "仅同步以下文件",
    /* 118 */ "源-->镜像",
    /* 119 */ "源<--镜像",
    /* 120 */ "最大错误:",
    /* 121 */ "仅包含以下子文件夹",
    /* 122 */ "添加文件夹",
    /* 123 */ "请先选取任务!",
    /* 124 */ "忽略1小时时间差(适应夏令时)",
    /* 125 */ "忽略时间误差(秒):",
    /* 126 */ "计划任务",
    /* 127 */ "计划名称:",
    /* 128 */ "执行同步:",
    /* 129 */ "时间:",
    /* 130 */ "重复次数:",
    /* 131 */ "(-1 代表无限次)",
    /* 132 */ "星期日",
    /* 133 */ "星期一",
    /* 134 */ "星期二",
    /* 135 */ "星期三",
    /* 136 */ "星期四",
    /* 137 */ "星期五",
    /* 138 */ "星期六",
    /* 139 */ "添加计划",
    /* 140 */ "删除计划",
    /* 141 */ " 日",
    /* 142 */ "计划",
    /* 143 */ "下次执行时间: ",
    /* 144 */ "计划名称重复，请重新输入！",
    /* 145 */ "输入的时间值无效！",
    /* 146 */ "每隔",
    /* 147 */ "每天",
    /* 148 */ "每周",
    /* 149 */ "",
    /* 150 */ "Duplora.cfg 在载入后已被其他程序修改。是否用本窗口的任务覆盖这些修改？",
    /* 151 */ "",
    /* 152 */ "",
    /* 153 */ "",
    /* 154 */ "",
    /* 155 */ "",
    /* 156 */ "",
    /* 157 */ "",
    /* 158 */ "",
    /* 159 */ "",
    /* 160 */ "另一个计划程序正在执行此配置的计划，本窗口不执行计划。",
    /* 161 */ "输入值无效。按 Esc 键放弃修改",
    /* 162 */ "",
    /* 163 */ "",
    /* 164 */ "",
    /* 165 */ "",
    /* 166 */ "",
    /* 167 */ "",
    /* 168 */ "",
    /* 169 */ "",
    /* 170 */ "",
    /* 171 */ "",
    /* 172 */ "",
    /* 173 */ "",
    /* 174 */ "",
    /* 175 */ "",
    /* 176 */ "",
    /* 177 */ "",
    /* 178 */ "",
    /* 179 */ "",
    /* 180 */ "拒绝运行：文件夹 %1 不存在，运行将会删除另一侧的全部文件。",
    /* 181 */ "源文件夹和镜像文件夹是同一个文件夹: %1",
    /* 182 */ "文件夹 %1 位于本任务的另一个文件夹之内，扫描时将跳过它。是否继续？",
    /* 183 */ "文件: %1 / %2",
    /* 184 */ "速度: %1/秒",
    /* 185 */ "剩余时间: %1",
    /* 186 */ "当前文件:",
    /* 187 */ "全部文件:",
    /* 188 */ "任务已保存。",
    /* 189 */ "显示全部文件",
    /* 190 */ "隐藏无需操作的文件",
    /* 191 */ "源文件夹不存在：%1",
    /* 192 */ "",
    /* 193 */ "",
    /* 194 */ "",
    /* 195 */ "",
    /* 196 */ "",
    /* 197 */ "",
    /* 198 */ "",
    /* 199 */ "",
    /* 200 */ "未指定版本文件夹：请输入一个，或为删除的文件选择其他去处。",
    /* 201 */ "版本文件夹就是源文件夹或镜像文件夹本身: %1",
    /* 202 */
    "版本文件夹位于源文件夹或镜像文件夹之内: %1。请改用相对于每一侧的文件夹（例如 "
    "\"versions\"），或两者之外的文件夹。",
    /* 203 */ "版本文件夹包含了源文件夹或镜像文件夹: %1",
    /* 204 */ "版本文件夹不能包含 \"..\": %1",
    /* 205 */ "版本文件夹经过了链接或文件: %1",
    /* 206 */
    "已停止：本次运行将删除或替换源文件夹 %2 个文件中的 %1 个 (%3%) 和镜像文件夹 %5 个文件中的 %4 "
    "个 (%6%)，超过任务的上限 %7%",
    /* 207 */ "无法将文件移到回收站，保持原样 (%1)，路径: ",
    /* 208 */ "无法将文件移到版本文件夹，保持原样 (%1)，路径: ",
    /* 209 */ "此卷上没有可用的回收站文件夹",
    /* 210 */ "源：%2 个文件中删除 %1 个（%3%）",
    /* 211 */ "镜像：%2 个文件中删除 %1 个（%3%）",
    /* 212 */ "删除和被替换的文件：",
    /* 213 */ "永久删除",
    /* 214 */ "移到回收站",
    /* 215 */ "移到版本文件夹",
    /* 216 */ "版本文件夹：",
    /* 217 */ "删除上限(%，0 = 无)：",
    /* 218 */ "无窗口的运行若要删除或替换任一文件夹中超过此比例的文件，将在任何文件操作之前停止。",
    /* 219 */ "版本文件夹最长 %1 字节，此文件夹有 %2 字节。",
    /* 220 */ "移动文件：%1",
    /* 221 */ "检测移动和改名的文件(&M)",
    /* 222 */ "移动文件：%1",
    /* 223 */ "正在比较移动的文件...",
    /* 224 */ "移动文件失败，路径：",
    /* 225 */ "移动",
    /* 226 */ "移动文件最小大小(KB)：",
    /* 227 */ "移自 %1",
    /* 228 */ "移至 %1",
    /* 229 */ "",
    /* 230 */ "名称仅大小写不同，未同步: ",
    /* 231 */ "",
    /* 232 */ "",
    /* 233 */ "",
    /* 234 */ "",
    /* 235 */ "",
    /* 236 */ "",
    /* 237 */ "已删除中断的复制留下的临时文件，路径: ",
    /* 238 */ "源文件在复制过程中被修改，未复制，路径: ",
    /* 239 */ "文件在扫描后已被修改，保持原样，路径: ",
    /* 240 */ "启动者: 窗口",
    /* 241 */ "启动者: 命令行",
    /* 242 */ "启动者: 计划 %1",
    /* 243 */ "启动者: 控制台",
    /* 244 */ "上次运行 %1: %2",
    /* 245 */ "复制 %1, 删除 %2, 移动 %3, 失败 %4",
    /* 246 */ "尚未运行",
    /* 247 */ "下次计划运行: %1",
    /* 248 */ "打开",
    /* 249 */ "运行已勾选的任务",
    /* 250 */ "暂停计划",
    /* 251 */ "恢复计划",
    /* 252 */ "退出",
    /* 253 */ "复制到镜像文件夹",
    /* 254 */ "复制到源文件夹",
    /* 255 */ "从源文件夹删除",
    /* 256 */ "从镜像文件夹删除",
    /* 257 */ "从源文件夹删除: 唯一的副本",
    /* 258 */ "从镜像文件夹删除: 唯一的副本",
    /* 259 */ "保持原样",
    /* 260 */
    "超过删除上限: 本次运行将删除或替换源文件夹 %2 个文件中的 %1 个 (%3%) 和镜像文件夹 %5 "
    "个文件中的 %4 个 (%6%)，任务的上限为 %7%。仍要同步吗?",
    /* 261 */ "此共享没有回收站: \"移到回收站\" 对 %1 的每个文件都会失败。请改用版本文件夹。",
    /* 262 */ "镜像备份",
    /* 263 */ "双向同步",
    /* 264 */ "不限速",
    /* 265 */ "计划运行失败: %1",
    /* 266 */ "计划已暂停",
    /* 267 */ "源文件夹 -> 镜像文件夹: 1 个文件",
    /* 268 */ "源文件夹 <- 镜像文件夹: 1 个文件",
    /* 269 */ "启动者: 自动模式",
};

constexpr TextArray kTraditionalChinese = {
    /*   0 */ "Duplora",
    /*   1 */ "工作清單",
    /*   2 */ "新增工作",
    /*   3 */ "刪除工作",
    /*   4 */ "工作名稱(&N):",
    /*   5 */ "自動模式",
    /*   6 */ "源資料夾(&H)",
    /*   7 */ "鏡像資料夾(&M)",
    /*   8 */ "瀏覽",
    /*   9 */ "包含下層資料夾(&S)",
    /*  10 */ "排除資料夾",
    /*  11 */ "添加",
    /*  12 */ "刪除",
    /*  13 */ "操作選項",
    /*  14 */ "僅源資料夾中存在的檔案:",
    /*  15 */ "僅鏡像資料夾中存在的檔案:",
    /*  16 */ "時間相同尺寸不同的檔案:",
    /*  17 */ "源資料夾中較新的檔案:",
    /*  18 */ "鏡像資料夾中較新的檔案:",
    /*  19 */ "空的資料夾:",
    /*  20 */ "忽略",
    /*  21 */ "刪除",
    /*  22 */ "源資料夾->鏡像資料夾",
    /*  23 */ "源資料夾<-鏡像資料夾",
    /*  24 */ "開始同步",
    /*  25 */ "退出",
    /*  26 */ "新工作",
    /*  27 */ "提示",
    /*  28 */ "設定已被改變，是否需要儲存？",
    /*  29 */ "請選擇鏡像資料夾",
    /*  30 */ "請選擇源資料夾",
    /*  31 */ "錯誤",
    /*  32 */ "源資料夾或鏡像資料夾無效，請修正。",
    /*  33 */ "尚未指定任何同步操作。",
    /*  34 */ "請選擇資料夾",
    /*  35 */ "無效資料夾，此資料夾不包含在主資料夾和鏡像資料夾中！",
    /*  36 */ "無效資料夾，不能排除整個源資料夾和鏡像資料夾！",
    /*  37 */ "操作失敗，不能添加更多的排除資料夾！",
    /*  38 */ "執行工作過程中不顯示預覽視窗和結果對話盒",
    /*  39 */ "關於",
    /*  40 */ "出品:",
    /*  41 */ kMakerName,
    /*  42 */ "主頁:",
    /*  43 */ kMakerWebAddress,
    /*  44 */ "正在同步",
    /*  45 */ "取消(&C)",
    /*  46 */ "開始同步工作:",
    /*  47 */ "創建目標檔案出錯，路徑:",
    /*  48 */ "打開原始檔案出錯，路徑:",
    /*  49 */ "復制被中止，路徑:",
    /*  50 */ "復制檔案出錯，路徑:",
    /*  51 */ "總計: 完成%1位元組，剩余%2位元組",
    /*  52 */ "刪除資料夾失敗，路徑: ",
    /*  53 */ "正在分析源資料夾......",
    /*  54 */ "正在分析鏡像資料夾......",
    /*  55 */ "沒有檔案需要同步！",
    /*  56 */ "本次工作將會執行如下操作:",
    /*  57 */ "源資料夾 -> 鏡像資料夾: %1 個檔案",
    /*  58 */ "源資料夾 <- 鏡像資料夾: %1 個檔案",
    /*  59 */ "刪除源資料夾中的檔案: %1 個",
    /*  60 */ "刪除鏡像資料夾中的檔案: %1 個",
    /*  61 */ "同步空的資料夾: %1 個",
    /*  62 */ "  是否繼續？",
    /*  63 */ "用戶放棄同步！",
    /*  64 */ "正在同步檔案......",
    /*  65 */ "正在執行:",
    /*  66 */ "正在同步空的資料夾......",
    /*  67 */ "用戶中止同步工作！",
    /*  68 */ "達到最大錯誤數，同步工作中止！",
    /*  69 */ "同步工作執行完成！",
    /*  70 */ "工作執行結果:",
    /*  71 */ "操作失敗的檔案: %1 個",
    /*  72 */ "警告",
    /*  73 */ "同步正在進行，是否中止同步工作？",
    /*  74 */ "同步結果",
    /*  75 */ "關閉(&C)",
    /*  76 */ "請在此輸入本工作的描述......",
    /*  77 */ "同步檔案管理",
    /*  78 */ "資料夾",
    /*  79 */ "檔案名稱",
    /*  80 */ "大小(本地)",
    /*  81 */ "時間(本地)",
    /*  82 */ "立即同步",
    /*  83 */ "傳輸檔案: %1(%2 位元組)",
    /*  84 */ "刪除遠程檔案: %1",
    /*  85 */ "刪除本地檔案: %1",
    /*  86 */ "同步空資料夾: %1",
    /*  87 */ "0",
    /*  88 */ "0",
    /*  89 */ "大小(遠程)",
    /*  90 */ "時間(遠程)",
    /*  91 */ "正在生成資料夾樹... ",
    /*  92 */ "全選(&A)",
    /*  93 */ "清除(&C)",
    /*  94 */ "忽略以下檔案",
    /*  95 */ "刪除以下檔案",
    /*  96 */ "已壓縮的檔案",
    /*  97 */ "自動模式",
    /*  98 */ "默認值(&D)",
    /*  99 */ "確定(&O)",
    /* 100 */ "取消(&C)",
    /* 101 */ "太多檔案類型！",
    /* 102 */ "高級選項",
    /* 103 */ "高級選項(&O)",
    /* 104 */ "請先選擇任務!",
    /* 105 */ "網絡密碼:",
    /* 106 */ "網絡用戶名:",
    /* 107 */ "速度限制(KB/s):",
    /* 108 */ "網絡路徑無效, 或用戶名、密碼錯誤!",
    /* 109 */ "同步類別:",
    /* 110 */ "資料夾",
    /* 111 */ "檔案",
    /* 112 */ "改變同步類型將導致部分屬性丟失，是否繼續？",
    /* 113 */ "檔案清單",
    /* 114 */ "復制工作",
    /* 115 */ "全選(&A)",
    /* 116 */ "清除(&C)",
    /* 117 */ "僅同步下列檔案",
    /* 118 */ "源-->鏡像",
    /* 119 */ "源<--鏡像",
    /* 120 */ "最大錯誤:",
    /* 121 */ "僅包含以下子文件夾",
    /* 122 */ "添加文件夾",
    /* 123 */ "請先選取任務!",
    /* 124 */ "忽略1小時時間差(適應夏令時)",
    /* 125 */ "忽略時間誤差(秒):",
    /* 126 */ "計划任務",
    /* 127 */ "計划名稱:",
    /* 128 */ "執行同步:",
    /* 129 */ "時間:",
    /* 130 */ "重復次數:",
    /* 131 */ "(-1 代表無限次)",
    /* 132 */ "星期日",
    /* 133 */ "星期一",
    /* 134 */ "星期二",
    /* 135 */ "星期三",
    /* 136 */ "星期四",
    /* 137 */ "星期五",
    /* 138 */ "星期六",
    /* 139 */ "添加計划",
    /* 140 */ "刪除計划",
    /* 141 */ " 日",
    /* 142 */ "計划",
    /* 143 */ "下次執行時間: ",
    /* 144 */ "計划名稱重復，請重新輸入！",
    /* 145 */ "輸入的時間值無效！",
    /* 146 */ "每隔",
    /* 147 */ "每天",
    /* 148 */ "每周",
    /* 149 */ "",
    /* 150 */ "Duplora.cfg 在載入後已被其他程式修改。是否用本視窗的工作覆寫這些修改？",
    /* 151 */ "",
    /* 152 */ "",
    /* 153 */ "",
    /* 154 */ "",
    /* 155 */ "",
    /* 156 */ "",
    /* 157 */ "",
    /* 158 */ "",
    /* 159 */ "",
    /* 160 */ "另一個計划程式正在執行此設定的計划，本視窗不執行計划。",
    /* 161 */ "輸入值無效。按 Esc 鍵放棄修改",
    /* 162 */ "",
    /* 163 */ "",
    /* 164 */ "",
    /* 165 */ "",
    /* 166 */ "",
    /* 167 */ "",
    /* 168 */ "",
    /* 169 */ "",
    /* 170 */ "",
    /* 171 */ "",
    /* 172 */ "",
    /* 173 */ "",
    /* 174 */ "",
    /* 175 */ "",
    /* 176 */ "",
    /* 177 */ "",
    /* 178 */ "",
    /* 179 */ "",
    /* 180 */ "拒絕執行：資料夾 %1 不存在，執行將會刪除另一側的全部檔案。",
    /* 181 */ "源資料夾和鏡像資料夾是同一個資料夾: %1",
    /* 182 */ "資料夾 %1 位於本工作的另一個資料夾之內，掃描時將略過它。是否繼續？",
    /* 183 */ "檔案: %1 / %2",
    /* 184 */ "速度: %1/秒",
    /* 185 */ "剩餘時間: %1",
    /* 186 */ "目前檔案:",
    /* 187 */ "全部檔案:",
    /* 188 */ "工作已儲存。",
    /* 189 */ "顯示全部檔案",
    /* 190 */ "隱藏無需操作的檔案",
    /* 191 */ "源資料夾不存在：%1",
    /* 192 */ "",
    /* 193 */ "",
    /* 194 */ "",
    /* 195 */ "",
    /* 196 */ "",
    /* 197 */ "",
    /* 198 */ "",
    /* 199 */ "",
    /* 200 */ "未指定版本資料夾：請輸入一個，或為刪除的檔案選擇其他去處。",
    /* 201 */ "版本資料夾就是源資料夾或鏡像資料夾本身: %1",
    /* 202 */
    "版本資料夾位於源資料夾或鏡像資料夾之內: %1。請改用相對於每一側的資料夾（例如 "
    "\"versions\"），或兩者之外的資料夾。",
    /* 203 */ "版本資料夾包含了源資料夾或鏡像資料夾: %1",
    /* 204 */ "版本資料夾不能包含 \"..\": %1",
    /* 205 */ "版本資料夾經過了連結或檔案: %1",
    /* 206 */
    "已停止：本次執行將刪除或取代源資料夾 %2 個檔案中的 %1 個 (%3%) 和鏡像資料夾 %5 個檔案中的 %4 "
    "個 (%6%)，超過任務的上限 %7%",
    /* 207 */ "無法將檔案移到資源回收筒，保持原樣 (%1)，路徑: ",
    /* 208 */ "無法將檔案移到版本資料夾，保持原樣 (%1)，路徑: ",
    /* 209 */ "此磁碟區上沒有可用的資源回收筒資料夾",
    /* 210 */ "源：%2 個檔案中刪除 %1 個（%3%）",
    /* 211 */ "鏡像：%2 個檔案中刪除 %1 個（%3%）",
    /* 212 */ "刪除和被取代的檔案：",
    /* 213 */ "永久刪除",
    /* 214 */ "移到資源回收筒",
    /* 215 */ "移到版本資料夾",
    /* 216 */ "版本資料夾：",
    /* 217 */ "刪除上限(%，0 = 無)：",
    /* 218 */ "無視窗的執行若要刪除或取代任一資料夾中超過此比例的檔案，將在任何檔案操作之前停止。",
    /* 219 */ "版本資料夾最長 %1 位元組，此資料夾有 %2 位元組。",
    /* 220 */ "移動檔案：%1",
    /* 221 */ "偵測移動和改名的檔案(&M)",
    /* 222 */ "移動檔案：%1",
    /* 223 */ "正在比較移動的檔案...",
    /* 224 */ "移動檔案失敗，路徑：",
    /* 225 */ "移動",
    /* 226 */ "移動檔案最小大小(KB)：",
    /* 227 */ "移自 %1",
    /* 228 */ "移至 %1",
    /* 229 */ "",
    /* 230 */ "名稱僅大小寫不同，未同步: ",
    /* 231 */ "",
    /* 232 */ "",
    /* 233 */ "",
    /* 234 */ "",
    /* 235 */ "",
    /* 236 */ "",
    /* 237 */ "已刪除中斷的複製留下的暫存檔案，路徑: ",
    /* 238 */ "來源檔案在複製過程中被修改，未複製，路徑: ",
    /* 239 */ "檔案在掃描後已被修改，保持原樣，路徑: ",
    /* 240 */ "啟動者: 視窗",
    /* 241 */ "啟動者: 命令列",
    /* 242 */ "啟動者: 排程 %1",
    /* 243 */ "啟動者: 主控台",
    /* 244 */ "上次執行 %1: %2",
    /* 245 */ "複製 %1, 刪除 %2, 移動 %3, 失敗 %4",
    /* 246 */ "尚未執行",
    /* 247 */ "下次排程執行: %1",
    /* 248 */ "開啟",
    /* 249 */ "執行已勾選的任務",
    /* 250 */ "暫停排程",
    /* 251 */ "恢復排程",
    /* 252 */ "結束",
    /* 253 */ "複製到鏡像資料夾",
    /* 254 */ "複製到源資料夾",
    /* 255 */ "從源資料夾刪除",
    /* 256 */ "從鏡像資料夾刪除",
    /* 257 */ "從源資料夾刪除: 唯一的副本",
    /* 258 */ "從鏡像資料夾刪除: 唯一的副本",
    /* 259 */ "保持原樣",
    /* 260 */
    "超過刪除上限: 本次執行將刪除或取代源資料夾 %2 個檔案中的 %1 個 (%3%) 和鏡像資料夾 %5 "
    "個檔案中的 %4 個 (%6%)，任務的上限為 %7%。仍要同步嗎?",
    /* 261 */
    "此共用沒有資源回收筒: \"移到資源回收筒\" 對 %1 的每個檔案都會失敗。請改用版本資料夾。",
    /* 262 */ "鏡像備份",
    /* 263 */ "雙向同步",
    /* 264 */ "不限速",
    /* 265 */ "排程執行失敗: %1",
    /* 266 */ "排程已暫停",
    /* 267 */ "源資料夾 -> 鏡像資料夾: 1 個檔案",
    /* 268 */ "源資料夾 <- 鏡像資料夾: 1 個檔案",
    /* 269 */ "啟動者: 自動模式",
};

// An aggregate initialiser with too few texts would leave the last entries empty without a word.
// Entries 0..148 are never empty; the later numbers are given out in blocks, one per feature, so an
// entry there is either filled in all three tables or still unused (empty) in all three. This
// catches a lost line, or a text added to one language only, at compile time.
constexpr bool AllFilled(const TextArray& en, const TextArray& cn, const TextArray& tw) {
    for (std::size_t i = 0; i < en.size(); ++i) {
        const bool e = !en[i].empty(), c = !cn[i].empty(), t = !tw[i].empty();
        if (i < kFirstExtendedText ? !(e && c && t) : (e != c || e != t))
            return false;
    }
    return true;
}
static_assert(AllFilled(kEnglish, kSimplifiedChinese, kTraditionalChinese));

// std::string copies are made once, on first use, so that Msg can hand out references that stay
// valid for the whole run. Function-local statics keep this independent of the order in which
// other files' static objects are initialised (a window or a test fixture may ask early).
using StringTable = std::array<std::string, kTextCount>;

StringTable MakeStringTable(const TextArray& texts) {
    StringTable table;
    for (std::size_t i = 0; i < texts.size(); ++i)
        table[i] = std::string(texts[i]);
    return table;
}

const StringTable& TableOf(Language lang) {
    static const StringTable english = MakeStringTable(kEnglish);
    static const StringTable simplified = MakeStringTable(kSimplifiedChinese);
    static const StringTable traditional = MakeStringTable(kTraditionalChinese);
    switch (lang) {
    case Language::SimplifiedChinese:
        return simplified;
    case Language::TraditionalChinese:
        return traditional;
    case Language::English:
        break;
    }
    return english;
}

const std::string& EmptyText() {
    static const std::string empty;
    return empty;
}

// Written once at start-up and read from every window; atomic only so that a reader on another
// thread never sees a torn value.
std::atomic<Language> gCurrentLanguage{Language::English};

// Replaces the first "%1" and (when `v2` is given) the first "%2" of `text` in one pass over the
// original text. Doing it in one pass means a value is never searched again: a first value that
// happens to contain "%2" (a file name such as "50%2.txt") stays as it is, and the real "%2"
// placeholder still gets the second value.
std::string FillPlaceholders(std::string_view text, std::string_view v1,
                             const std::string_view* v2) {
    struct Slot {
        std::size_t pos;
        std::string_view value;
    };
    Slot slots[2];
    int count = 0;
    if (std::size_t p = text.find("%1"); p != std::string_view::npos)
        slots[count++] = {p, v1};
    if (v2 != nullptr) {
        if (std::size_t p = text.find("%2"); p != std::string_view::npos)
            slots[count++] = {p, *v2};
    }
    // "%1" and "%2" can never overlap, so ordering the (at most two) slots is enough.
    if (count == 2 && slots[1].pos < slots[0].pos)
        std::swap(slots[0], slots[1]);

    std::string out;
    out.reserve(text.size() + v1.size() + (v2 != nullptr ? v2->size() : 0));
    std::size_t from = 0;
    for (int i = 0; i < count; ++i) {
        out.append(text.substr(from, slots[i].pos - from));
        out.append(slots[i].value);
        from = slots[i].pos + 2;
    }
    out.append(text.substr(from));
    return out;
}

} // namespace

void SetLanguage(Language lang) {
    switch (lang) {
    case Language::English:
    case Language::SimplifiedChinese:
    case Language::TraditionalChinese:
        gCurrentLanguage.store(lang);
        return;
    }
    gCurrentLanguage.store(Language::English); // a value outside the enumeration
}

Language CurrentLanguage() {
    return gCurrentLanguage.load();
}

const std::string& InterfaceFontName() {
    static const std::string simSun = "宋体";
    static const std::string mingLiU = "細明體";
    static const std::string sansSerif = "MS Sans Serif";
    switch (CurrentLanguage()) {
    case Language::SimplifiedChinese:
        return simSun;
    case Language::TraditionalChinese:
        return mingLiU;
    case Language::English:
        break;
    }
    return sansSerif;
}

const std::string& MsgIn(Language lang, int n) {
    if (n < 0 || n >= kTextCount)
        return EmptyText();
    return TableOf(lang)[static_cast<std::size_t>(n)];
}

const std::string& Msg(int n) {
    return MsgIn(CurrentLanguage(), n);
}

std::string MsgFill(int n, std::string_view v1) {
    return FillPlaceholders(Msg(n), v1, nullptr);
}

std::string MsgFill(int n, std::string_view v1, std::string_view v2) {
    return FillPlaceholders(Msg(n), v1, &v2);
}

bool LanguageFromCode(std::string_view code, Language& out) {
    // Language tags compare without regard to case ("zh-cn" is "zh-CN").
    auto same = [](std::string_view a, std::string_view b) { return AsciiEqualNoCase(a, b); };
    if (same(code, "en"))
        out = Language::English;
    else if (same(code, "zh-CN"))
        out = Language::SimplifiedChinese;
    else if (same(code, "zh-TW"))
        out = Language::TraditionalChinese;
    else
        return false;
    return true;
}

} // namespace duplora
