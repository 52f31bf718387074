@echo off
rem Starts KLP Config on Windows: the program beside this file, or the one in the build tree.
set "exe=%~dp0KLP_V2Orizeze.exe"
if not exist "%exe%" set "exe=%~dp0build\windows\app\KLP_V2Orizeze.exe"
if not exist "%exe%" (
  echo KLP_V2Orizeze.exe not found: build the windows preset first.
  exit /b 1
)
start "" "%exe%"
