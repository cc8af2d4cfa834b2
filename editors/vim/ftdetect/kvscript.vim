" Scripts of KVConverter games: a .txt file below a folder that holds main.txt
" is read as kvscript, and read and written as CP932 (Shift_JIS), the code
" page of the scripts. Set g:kvscript_fileencoding to read them otherwise;
" ++enc on the command line still wins.

function! s:IsGameScript(file) abort
  return findfile('main.txt', fnameescape(fnamemodify(a:file, ':p:h')) . ';') !=# ''
endfunction

function! s:Encoding() abort
  return get(g:, 'kvscript_fileencoding', 'cp932')
endfunction

" The encoding is chosen before the file is read, and the user's list of
" encodings comes back once it has been.
autocmd BufReadPre *.txt
      \ if s:IsGameScript(expand('<afile>')) |
      \   let s:kvscript_fileencodings = &fileencodings |
      \   let &fileencodings = s:Encoding() |
      \ endif
autocmd BufReadPost *.txt
      \ if exists('s:kvscript_fileencodings') |
      \   let &fileencodings = s:kvscript_fileencodings |
      \   unlet s:kvscript_fileencodings |
      \ endif
autocmd BufNewFile *.txt
      \ if s:IsGameScript(expand('<afile>')) | let &l:fileencoding = s:Encoding() | endif
" The runtime's own rule has already called every .txt file text.
autocmd BufNewFile,BufRead *.txt
      \ if s:IsGameScript(expand('<afile>')) | set filetype=kvscript | endif
