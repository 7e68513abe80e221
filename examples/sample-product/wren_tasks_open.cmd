@echo off
rem Wren Tasks, the sample product's program. Started by the installer, with the
rem install directory as its working directory; it says so in the file named by
rem SAMPLE_PRODUCT_STARTED (when set) and ends.
if defined SAMPLE_PRODUCT_STARTED echo Wren Tasks started in %CD%> "%SAMPLE_PRODUCT_STARTED%"
