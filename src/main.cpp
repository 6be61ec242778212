// The program entry: bring up the application, create the main window, run until it closes.

#include "Application.h"
#include "Unit2.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Application->Initialize();
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(Form2);
    Application->Run();
    return 0;
}
