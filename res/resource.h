// Resource and control identifiers.
#pragma once

#define IDS_PROJNAME             100
#define IDI_QUORLIN              200
#define IDD_MAINDLG              201

#define IDC_SOURCE_FILE          201  // radio: the source is a file
#define IDC_SOURCE_LIVE          202  // radio: the source is a capture device
#define IDC_LOAD                 203
#define IDC_SOURCE_PATH          204
#define IDC_LIVE_SOURCES         205
#define IDC_BUILD_GRAPH          206
#define IDC_SHOW_GRAPH           207
#define IDC_PRESET               208
#define IDC_ENCODER_TYPE         209
#define IDC_PROGRESS             210
#define IDC_PLAY                 211
#define IDC_PAUSE                212
#define IDC_STOP                 213
#define IDC_RESOLUTION           214
#define IDC_FPS                  215
#define IDC_OUTPUT_PATH          216
#define IDC_SPEED_VALUE          220
#define IDC_QUALITY_VALUE        221
#define IDC_SPEED_QUALITY        222
#define IDC_RATE_CONTROL         223
#define IDC_FRAMES               224
#define IDC_BITRATE              225
#define IDC_BITRATE_SPIN         226
#define IDC_AVG_BITRATE          227
#define IDC_PROFILE              228
#define IDC_PROFILE_USED         229
#define IDC_IDR_INTERVAL         230
#define IDC_IDR_INTERVAL_SPIN    231
#define IDC_IDR_INTERVAL_USED    232
#define IDC_INTERLACING          233
#define IDC_LEVEL                234
#define IDC_LEVEL_USED           235
#define IDC_BFRAMES              236
#define IDC_BFRAMES_SPIN         237
#define IDC_BFRAMES_USED         238
#define IDC_GOP_SIZE             239
#define IDC_GOP_SIZE_SPIN        240
#define IDC_GOP_SIZE_USED        241
#define IDC_CAVLC                242
#define IDC_EXACT_GOP            243
#define IDC_BITRATE_USED         244
#define IDC_PASS_THROUGH         245
#define IDC_FORCE_KEY_FRAME      246
#define IDC_ENCODER_USED         247
#define IDC_OUTPUT_CHECK         248
#define IDC_SAVE                 249
#define IDC_SHOW_PREVIEW         250
#define IDC_TEST                 251
#define IDC_PROPERTIES           252

#ifndef IDC_STATIC
#define IDC_STATIC               (-1)
#endif
