" tsumiki in Neovim: highlighting of tsumiki programs (*.tsu), word for word
" as the VS Code grammar (editors/vscode/syntaxes) highlights them.  The
" language has no comments and no strings; keywords are lower case.
if exists('b:current_syntax')
  finish
endif

syntax case match
syntax keyword tsumikiConditional if then else
syntax keyword tsumikiRepeat while do
syntax keyword tsumikiBlock begin end
syntax keyword tsumikiDeclaration program var procedure function
syntax keyword tsumikiOperatorWord div
syntax keyword tsumikiBuiltin read write
syntax match tsumikiNumber '\<\d\+\>'
syntax match tsumikiOperator ':=\|<=\|>=\|<>\|[=<>+*-]'
syntax match tsumikiRoutineName '\%(\<\%(program\|procedure\|function\)\s\+\)\@<=\a[[:alnum:]]*'

highlight default link tsumikiConditional Conditional
highlight default link tsumikiRepeat Repeat
highlight default link tsumikiBlock Statement
highlight default link tsumikiDeclaration StorageClass
highlight default link tsumikiOperatorWord Operator
highlight default link tsumikiBuiltin Function
highlight default link tsumikiNumber Number
highlight default link tsumikiOperator Operator
highlight default link tsumikiRoutineName Function

let b:current_syntax = 'tsumiki'
