# The desktop heap sizes of many computers, read and set through MorvantaCli.exe,
# which does every read and rewrite of the SharedSection= numbers; this module
# only carries the program to each computer, runs it there and turns what it
# says into objects and error records.
Set-StrictMode -Version 2.0

foreach ($folder in 'Private', 'Public') {
    foreach ($file in Get-ChildItem -Path (Join-Path $PSScriptRoot $folder) -Filter '*.ps1') {
        . $file.FullName
    }
}
