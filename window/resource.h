#pragma once

// Resource numbers, shared by the resource script and the code.
#define IDI_PROGRAM 1
#define IDB_BANNER 101
#define IDC_HAND_POINTER 102

#define VER_NUMBER 1, 0, 0, 5
#define VER_TEXT "1.00.0005"
