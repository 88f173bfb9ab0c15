" tsumiki in Neovim: *.tsu files are tsumiki programs.
autocmd BufRead,BufNewFile *.tsu setfiletype tsumiki
