// Resource identifiers shared by the .rc script and the C++ code.
#pragma once

#define IDI_PROGRAM 1           // icon group of the program
#define IDI_PROGRAM_32 30001    // 32 x 32, 16 colours
#define IDI_PROGRAM_16 30002    // 16 x 16, 16 colours

#define IDR_WELCOME_PICTURE 201     // JPEG, 600 x 303
#define IDR_INSTALLER_PICTURE 202   // JPEG, 423 x 165

#define IDS_TITLE 100
#define IDS_INSTALL_BUTTON 101
#define IDS_CANCEL 102
#define IDS_NEXT 103
#define IDS_RUNNING 104
#define IDS_WELCOME 105
#define IDS_INSTALLING_LOAD 106
#define IDS_INSTALLING 107
#define IDS_PRODUCT 108
#define IDS_HELP 109
#define IDS_ALREADY_RUNNING 110
#define IDS_IN_USE_BY 120
#define IDS_IN_USE_BY_ANOTHER 121
#define IDS_IN_USE_CHOICE 122
#define IDS_TRY_AGAIN 123
#define IDS_CONTINUE 124
#define IDS_INSTALLED_NEWER 125
#define IDS_AT_NEXT_RESTART 126
#define IDS_DAMAGED_FILES 127
#define IDS_IN_USE_RETRY_ONLY 128
#define IDS_UNREADABLE_LIST 129
#define IDS_NO_SHA256 130
// What a run without administrator rights is told, then how to run it so:
// on XP; on Vista and later.
#define IDS_NEEDS_ADMINISTRATOR 131
#define IDS_RUN_AS_ON_XP 132
#define IDS_RUN_AS_ADMINISTRATOR 133

// The version people and logs see; the version block says the same.
#define PROGRAM_VERSION_TEXT "1.00"
