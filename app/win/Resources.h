// Resource numbers shared by the program's code and its resource script.
#pragma once

#define IDI_QUENDAL 1
#define IDR_ABOUT_PICTURE 100
