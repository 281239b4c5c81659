" Vim compiler file for corvanexml-check: ":compiler corvanexml", then ":make" checks the
" current file and fills the quickfix list with its findings.
if exists('current_compiler')
  finish
endif
let current_compiler = 'corvanexml'

let s:cpo_save = &cpo
set cpo&vim

" The summary line and the checker's own warnings on standard error are no findings.
CompilerSet makeprg=corvanexml-check\ --quiet\ %:S
" PATH:LINE:COL: Msg NNN: text, and PATH: Msg 100: text for a file that cannot be read.
CompilerSet errorformat=%-Gcorvanexml-check:\ %.%#,
      \%f:%l:%c:\ %m,
      \%f:\ %m

let &cpo = s:cpo_save
unlet s:cpo_save
