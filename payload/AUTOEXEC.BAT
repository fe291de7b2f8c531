@echo off
prompt $p$g
cd \Purgit
data\ctmouse
@echo Running Corvane Purgex 2005 ...
Purgit 
