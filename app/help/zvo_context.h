/* Help context numbers of the Zelvo help file. */
#define IDH_MAIN_WINDOW 1
#define IDH_COMPATIBILITY_SETTINGS 2
#define IDH_ABOUT 3
