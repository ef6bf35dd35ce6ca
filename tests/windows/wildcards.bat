@echo off
rem Run by tests/windows/console in the folder of the sources: cmd.exe hands each pattern over
rem as typed, and tessaly-convert.exe expands it itself.
"%~1" --bits 8 --dir all *.wav > all.txt
"%~1" --bits 8 --dir some take?.wav "with space.wav" nothing*.wav > some.txt
